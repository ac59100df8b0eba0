#include "FileSystemFigures.h"

#include "BoundedCall.h"

namespace quorvane {

std::vector<std::optional<FileSystemFigures>> statFileSystems(
    const std::vector<std::string>& machinePaths) {
    const std::vector<StatvfsAnswer> answers = systemStatvfs().query(machinePaths);
    std::vector<std::optional<FileSystemFigures>> figures(answers.size());
    for (std::size_t i = 0; i < answers.size(); ++i) {
        if (const auto& stats = answers[i].result) {
            const std::uint64_t unit = stats->f_frsize != 0 ? stats->f_frsize : stats->f_bsize;
            figures[i] = FileSystemFigures{static_cast<std::uint64_t>(stats->f_blocks) * unit,
                                           static_cast<std::uint64_t>(stats->f_bavail) * unit};
        }
    }
    return figures;
}

}  // namespace quorvane
