#include "serial/NetworkPortName.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace tarvok {
namespace {

struct SchemeWord {
  std::string_view prefix;
  NetworkScheme scheme;
};

constexpr std::array<SchemeWord, 2> kSchemes = {{
    {"rfc2217://", NetworkScheme::kRfc2217},
    {"tcp://", NetworkScheme::kRawTcp},
}};

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) {
    return false;
  }
  for (std::size_t k = 0; k < prefix.size(); ++k) {
    if (std::tolower(static_cast<unsigned char>(text[k])) != prefix[k]) {
      return false;
    }
  }
  return true;
}

// The length of a scheme ("letters://") at the start of `text`, or 0.
std::size_t SchemeLength(std::string_view text) {
  std::size_t k = 0;
  while (k < text.size() && std::isalnum(static_cast<unsigned char>(text[k]))) {
    ++k;
  }
  return k > 0 && text.substr(k, 3) == "://" ? k + 3 : 0;
}

bool ParsePortNumber(std::string_view digits, uint16_t& port) {
  if (digits.empty() || digits.size() > 5) {
    return false;
  }
  uint32_t value = 0;
  for (const char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) {
      return false;
    }
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value == 0 || value > 65535) {
    return false;
  }
  port = static_cast<uint16_t>(value);
  return true;
}

// "host:port" or "[v6]:port", nothing after it.
bool ParseHostAndPort(std::string_view rest, NetworkPortName& name) {
  std::string_view host;
  std::string_view afterHost;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) {
      return false;
    }
    host = rest.substr(1, close - 1);
    afterHost = rest.substr(close + 1);
  } else {
    const std::size_t colon = rest.find(':');
    host = rest.substr(0, colon);
    afterHost = colon == std::string_view::npos ? std::string_view() : rest.substr(colon);
  }
  if (host.empty() || host.find_first_of("/ \t") != std::string_view::npos ||
      afterHost.size() < 2 || afterHost.front() != ':') {
    return false;
  }
  if (!ParsePortNumber(afterHost.substr(1), name.port)) {
    return false;
  }
  name.host = std::string(host);
  return true;
}

// How long the network port's name at the start of `text` is, up to the end of its port number.
std::size_t NetworkNameLength(std::string_view text) {
  std::size_t k = SchemeLength(text);
  if (k < text.size() && text[k] == '[') {
    const std::size_t close = text.find(']', k);
    k = close == std::string_view::npos ? text.size() : close + 1;
  } else {
    const std::size_t colon = text.find(':', k);
    k = colon == std::string_view::npos ? text.size() : colon;
  }
  if (k < text.size() && text[k] == ':') {
    ++k;
    while (k < text.size() && std::isdigit(static_cast<unsigned char>(text[k]))) {
      ++k;
    }
  }
  return k;
}

}  // namespace

bool HasNetworkScheme(const std::string& text) {
  return SchemeLength(text) != 0;
}

NetworkNameParse ParseNetworkPortName(const std::string& text, NetworkPortName& name) {
  const std::size_t schemeLength = SchemeLength(text);
  if (schemeLength == 0) {
    return NetworkNameParse::kNotNetwork;
  }
  for (const SchemeWord& word : kSchemes) {
    if (word.prefix.size() == schemeLength && StartsWithNoCase(text, word.prefix)) {
      NetworkPortName parsed;
      parsed.scheme = word.scheme;
      if (!ParseHostAndPort(std::string_view(text).substr(schemeLength), parsed)) {
        return NetworkNameParse::kMalformed;
      }
      name = parsed;
      return NetworkNameParse::kOk;
    }
  }
  return NetworkNameParse::kUnknownScheme;
}

std::string NetworkPortNameText(const NetworkPortName& name) {
  std::string text;
  for (const SchemeWord& word : kSchemes) {
    if (word.scheme == name.scheme) {
      text = std::string(word.prefix);
    }
  }
  const bool v6 = name.host.find(':') != std::string::npos;
  text += v6 ? "[" + name.host + "]" : name.host;
  return text + ":" + std::to_string(name.port);
}

std::vector<std::string> SplitPortList(const std::string& list) {
  std::vector<std::string> entries;
  std::string_view rest(list);
  while (!rest.empty()) {
    const std::size_t length =
        SchemeLength(rest) != 0 ? NetworkNameLength(rest) : std::min(rest.find(':'), rest.size());
    if (length > 0) {
      entries.emplace_back(rest.substr(0, length));
    }
    rest.remove_prefix(std::min(length + 1, rest.size()));
  }
  return entries;
}

}  // namespace tarvok
