// Any config.json: decoding either fails with its own error or gives a configuration that survives a
// write and a read unchanged; validation only ever reports a configuration error.
#include "Fuzz.hpp"
#include "config/ClientConfiguration.hpp"
#include "support/JsonStrict.hpp"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    ClientConfiguration config;
    try {
        config = ClientConfiguration::fromJson(text);
    } catch (const JsonStrict::DecodeError&) {
        return 0;
    }
    // Anything else escaping is a fault: libFuzzer reports the uncaught exception.
    std::string written = config.toJson();
    ClientConfiguration reread = ClientConfiguration::fromJson(written);
    require(reread == config && reread.toJson() == written);
    Expected<void> valid = config.validate();
    require(valid || !valid.failure().text.empty());
    return 0;
}
