// A client fed any sequence of messages from its server, mixed with
// the user's commands and main-loop passes, with files offered and jobs
// running; the tables are checked after every step (program_driver.h).

#include "support/input_reader.h"
#include "support/program_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kelpie::fuzz::InputReader input({data, size});
  const uint8_t setup = input.U8();
  kelpie::fuzz::ProgramDriver driver(/*serverRole=*/false, setup);
  driver.Run(input);
  return 0;
}
