// Process exit codes of kwcam, one meaning each, so that scripts can tell a
// typing mistake from a camera that failed.
#ifndef KWCAM_EXITCODES_H
#define KWCAM_EXITCODES_H

namespace kwcam {

const int kExitSuccess = 0;
// The command ran and failed; the reason is on stderr. Also a grab ended by
// SIGINT or SIGTERM before it had its frames, after stopping and summarising.
const int kExitFailure = 1;
const int kExitUsage = 2;  // the command line was wrong; nothing was done

}  // namespace kwcam

#endif  // KWCAM_EXITCODES_H
