#include "issuer_keys.h"

#include <fstream>
#include <map>
#include <stdexcept>

#include "card_crypto.h"

namespace cardsim {
namespace {

std::string trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    std::size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

Bytes need(const std::map<std::string, Bytes>& values, const std::string& name, std::size_t size) {
    auto it = values.find(name);
    if (it == values.end()) throw std::runtime_error("key file lacks " + name);
    if (it->second.size() != size)
        throw std::runtime_error("key file: " + name + " must be " + std::to_string(size) +
                                 " bytes");
    return it->second;
}

}  // namespace

std::map<std::string, Bytes> readKeyFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read key file " + path);
    std::map<std::string, Bytes> values;
    std::string line;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#') continue;
        std::size_t eq = line.find('=');
        if (eq == std::string::npos) throw std::runtime_error("key file: bad line: " + line);
        auto value = fromHex(trim(line.substr(eq + 1)));
        if (!value) throw std::runtime_error("key file: bad hex in line: " + line);
        values[trim(line.substr(0, eq))] = *value;
    }
    return values;
}

CardKeys loadCardKeys(const std::string& path) {
    std::map<std::string, Bytes> values = readKeyFile(path);

    Bytes kdk = need(values, "kdk_half_1", 8);
    Bytes half2 = need(values, "kdk_half_2", 8);
    kdk.insert(kdk.end(), half2.begin(), half2.end());
    auto keyB = ecbDecryptUnpad(kdk, need(values, "key_block_b", 24));
    if (!keyB || keyB->size() != kKeySize)
        throw std::runtime_error("key file: key_block_b does not decipher to 16 bytes");
    if (values.count("key_b") && values["key_b"] != *keyB)
        throw std::runtime_error("key file: key_b differs from the deciphered key_block_b");
    return CardKeys{*keyB, need(values, "auth_key", kKeySize)};
}

std::string defaultKeyFile() {
    return CARDSIM_DEFAULT_KEY_FILE;
}

}  // namespace cardsim
