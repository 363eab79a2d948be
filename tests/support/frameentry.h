// How the plug-in's per-frame log entry begins: the tests that count, match
// or filter the entry share this text.
#ifndef KWCAM_TESTS_SUPPORT_FRAMEENTRY_H
#define KWCAM_TESTS_SUPPORT_FRAMEENTRY_H

namespace kwtest {

constexpr char kFrameEntryPrefix[] = "Hikvision Camera image get:";

}  // namespace kwtest

#endif  // KWCAM_TESTS_SUPPORT_FRAMEENTRY_H
