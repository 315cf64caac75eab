// The decoder worker: the program starts it once for every picture it loads.
#include "platform/DecoderProcess.h"

int main(int argc, char* argv[]) { vistrel::RunDecodeWorker(argc, argv); }
