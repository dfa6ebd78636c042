#include "protocol/message_turns.h"

namespace kelpie {

void TakeMessages(PeerState& state, ConnectionId id,
                  const std::function<void(std::span<const uint8_t>)>& handle) {
  do {
    if (state.frames.ReceiveFrame(id) == 0) {
      state.unfinishedInput.erase(id);
      return;
    }
    handle(state.frames.ReceivedFrame());
  } while (state.PassTimeLeft());
  state.unfinishedInput.insert(id);
}

bool HasMessagesWaiting(PeerState& state, ConnectionId id) {
  return state.unfinishedInput.contains(id) || state.network.ConnectionPoll(id) != 0;
}

}  // namespace kelpie
