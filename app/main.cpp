// TALVO: covariance estimation with missing values by the EM algorithm.
#include <csignal>

#include "app/talvo.h"

int main() {
    // A console reader that goes away must not end the run before its files are written.
    std::signal(SIGPIPE, SIG_IGN);
    talvo::Console con;
    talvo::Run run;
    return talvo::run_dialog(con, run);
}
