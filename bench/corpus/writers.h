#pragma once

#include "pair_request.h"

namespace kelpie::bench {

// Each writes one kind of (local, peer) pair; false on a write failure.
bool WriteLogPair(const PairRequest& request);
bool WriteProsePair(const PairRequest& request);
bool WriteRecordsPair(const PairRequest& request);
bool WriteSparsePair(const PairRequest& request);
bool WriteSparseEditsPair(const PairRequest& request);
bool WriteSwapPair(const PairRequest& request);
bool WriteMovedPair(const PairRequest& request);
bool WriteTarPair(const PairRequest& request);
bool WriteZerosPair(const PairRequest& request);
bool WritePeriodicPair(const PairRequest& request);
bool WriteFillPair(const PairRequest& request);

}  // namespace kelpie::bench
