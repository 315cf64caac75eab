// The shipped decoder: no misbehaviour, and no argument taken.

#include "decoding/worker/Faults.h"

namespace vistrel::faults {

bool TakeArguments(int argc, char**) { return argc == 1; }
void BeforeDecode() {}
void AtBuffer() {}
void BeforeRows(int) {}

}  // namespace vistrel::faults
