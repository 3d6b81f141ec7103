#include "keys/key_file_names.h"

#include "platform/ascii_case.h"

namespace kv {

namespace {

constexpr std::string_view kPublicSuffix = ".pub";
constexpr std::string_view kPrivateSuffix = ".prv";

}  // namespace

std::string ExportPrivateKeyPath(std::string_view publicPath) {
    if (publicPath.size() > kPublicSuffix.size() &&
        EndsWithIgnoringAsciiCase(publicPath, kPublicSuffix))
        return std::string(publicPath.substr(0, publicPath.size() - kPublicSuffix.size()));
    return std::string(publicPath) + std::string(kPrivateSuffix);
}

std::string ImportPrivateKeyPath(std::string_view publicPath) {
    // Paths may come from the other desktop OS, so both separators end a folder name.
    const std::size_t slash = publicPath.find_last_of("/\\");
    const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    const std::size_t dot = publicPath.rfind('.');
    // A leading dot marks a hidden file, not an extension.
    if (dot == std::string_view::npos || dot <= nameStart) return std::string();
    return std::string(publicPath.substr(0, dot));
}

}  // namespace kv
