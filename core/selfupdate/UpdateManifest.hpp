// The decoded update manifest (latest.json): what release the service offers and where its package is.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct UpdateManifest {
    std::string version;
    std::string url;
    std::string sha256;
    bool mandatory = false;           // carried only
    std::optional<std::string> notes; // carried only

    // version, url and sha256 each hold something besides blanks (Zs and tab; line breaks count as text).
    bool isComplete() const;

    // Strict decoding: every key optional, null as missing, unknown keys ignored; throws
    // JsonStrict::DecodeError for a body that is not a JSON object or a key of the wrong type.
    static UpdateManifest fromJson(std::string_view text);

    bool operator==(const UpdateManifest&) const = default;
};
