#pragma once
// Misbehaviour on request (crash, hang, lie, flood, forbidden calls), so that the
// program's defences are tested against a real process. Only the test build of the
// decoder (vistrel-decoder-test, never installed) links Faults.cpp, which takes the
// request as its one argument, --fault=NAME; the shipped decoder links NoFaults.cpp,
// which takes no argument at all and does nothing.

#include <cstddef>

namespace vistrel::faults {

// False when the arguments are none the decoder takes.
bool TakeArguments(int argc, char** argv);
// Once confined, before the decode: the faults that replace it or come before it.
void BeforeDecode();
// Once the program has sent the go byte: a crash or a hang.
void AtGo();
// Before rows 0 .. rows - 1 are announced: rows announced going backwards, then a hang.
void BeforeRows(int rows);
// The bytes of a band to be written into the rows pipe: a byte short, on request.
std::size_t RowBytesWritten(std::size_t bytes);

}  // namespace vistrel::faults
