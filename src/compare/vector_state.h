#pragma once

namespace kelpie {

// libxxhash's vectorised XXH3 can return with the upper halves of the vector
// registers still marked in use. Until they are cleared, every legacy SSE
// instruction that follows waits on them: OpenSSL's SHA-256 then runs about
// half again as slow, in this thread and in every thread it starts later.
// Clears them (vzeroupper) where the processor has them; nothing elsewhere.
void ClearUpperVectorState();

}  // namespace kelpie
