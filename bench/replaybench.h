// The folder of recorded pictures the replay benchmarks share: written once
// per run into a temporary folder.
#ifndef KWCAM_BENCH_REPLAYBENCH_H
#define KWCAM_BENCH_REPLAYBENCH_H

#include <QtCore/QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

namespace kwbench {

struct ReplayFolder {
    static constexpr unsigned count = 100;
    static constexpr int width = 1280;
    static constexpr int height = 1024;
    std::shared_ptr<QTemporaryDir> dir;
    std::vector<std::string> files;  // natural name order
};

const ReplayFolder& replayFolder();

}  // namespace kwbench

#endif  // KWCAM_BENCH_REPLAYBENCH_H
