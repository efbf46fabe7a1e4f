// morventd-worker: reads the readers of one link for the morventd
// supervisor, which starts it with their settings and a socket on fd 3. Kept
// apart from morventd so that a worker loads nothing but the core library.
#include <iostream>

#include "gateway/reader_config.h"
#include "gateway/worker.h"

int main(int argc, char** argv) {
    try {
        const std::vector<morventd::ReaderConfig> readers =
            morventd::fromWorkerArgs(std::vector<std::string>(argv + 1, argv + argc));
        return morventd::runWorker(readers, 3);
    } catch (const std::exception& e) {
        std::cerr << "morventd-worker: " << e.what() << " (started by morventd, not by hand)\n";
        return 2;
    }
}
