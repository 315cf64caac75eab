// The decoder worker: the program starts it once for every picture it loads.
#include "decoding/worker/WorkerMain.h"

int main(int argc, char* argv[]) { vistrel::RunDecodeWorker(argc, argv); }
