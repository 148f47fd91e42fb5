// talvo-batch: covariance estimation with missing values, for scripts.
#include <csignal>

#include "app/batch/batch.h"

int main(int argc, char** argv) {
    // A reader of the verdict that goes away must not end the run before its files are written.
    std::signal(SIGPIPE, SIG_IGN);
    return talvo::batch::run_batch(argc, argv);
}
