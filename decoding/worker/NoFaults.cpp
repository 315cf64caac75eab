// The shipped decoder: no misbehaviour, and no argument taken.

#include "decoding/worker/Faults.h"

namespace vistrel::faults {

bool TakeArguments(int argc, char**) { return argc == 1; }
void BeforeDecode() {}
void AtGo() {}

std::size_t RowBytesWritten(std::size_t bytes) { return bytes; }
void BeforeRows(int) {}

}  // namespace vistrel::faults
