// Process exit codes of kwcam, one meaning each, so that scripts can tell a
// typing mistake from a camera that failed.
#ifndef KWCAM_EXITCODES_H
#define KWCAM_EXITCODES_H

namespace kwcam {

const int kExitSuccess = 0;
const int kExitFailure = 1;  // the command ran and failed; the reason is on stderr
const int kExitUsage = 2;    // the command line was wrong; nothing was done
// A grab ended by SIGINT or SIGTERM exits with 128 + the signal number, as a
// shell reports a process killed by it, after stopping and summarising.
const int kExitSignalBase = 128;

}  // namespace kwcam

#endif  // KWCAM_EXITCODES_H
