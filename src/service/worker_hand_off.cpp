#include "service/worker_hand_off.h"

#include <charconv>

#include "common/exceptions.h"

namespace velquarn {

namespace {

void Put(std::string& out, std::string_view field) {
  out += std::to_string(field.size());
  out += ':';
  out += field;
}

// Takes the next field off text.
std::string_view Take(std::string_view& text) {
  const size_t colon = text.find(':');
  size_t size = 0;
  if (colon == std::string_view::npos ||
      std::from_chars(text.data(), text.data() + colon, size).ptr != text.data() + colon ||
      size > text.size() - colon - 1) {
    throw EConvertError("worker hand-off is cut short or malformed");
  }
  const std::string_view field = text.substr(colon + 1, size);
  text.remove_prefix(colon + 1 + size);
  return field;
}

}  // namespace

std::string EncodeWorkerHandOff(const TWorkerHandOff& hand_off) {
  std::string out;
  Put(out, hand_off.Tls ? "1" : "0");
  Put(out, hand_off.PeerName);
  Put(out, hand_off.PeerAddress);
  const TTlsServerOptions& tls = hand_off.TlsPem;
  for (const std::string* field :
       {&tls.Certificate, &tls.Key, &tls.ClientCA, &tls.MinVersion, &tls.Ciphers}) {
    Put(out, *field);
  }
  Put(out, std::to_string(hand_off.VersionLines.size()));
  for (const std::string& line : hand_off.VersionLines) Put(out, line);
  return out;
}

TWorkerHandOff DecodeWorkerHandOff(std::string_view text) {
  TWorkerHandOff hand_off;
  hand_off.Tls = Take(text) == "1";
  hand_off.PeerName = Take(text);
  hand_off.PeerAddress = Take(text);
  TTlsServerOptions& tls = hand_off.TlsPem;
  for (std::string* field :
       {&tls.Certificate, &tls.Key, &tls.ClientCA, &tls.MinVersion, &tls.Ciphers}) {
    *field = Take(text);
  }
  const std::string_view count_text = Take(text);
  size_t count = 0;
  if (std::from_chars(count_text.data(), count_text.data() + count_text.size(), count).ptr !=
      count_text.data() + count_text.size()) {
    throw EConvertError("worker hand-off has no line count");
  }
  // Each line takes at least two bytes ("0:"): a count beyond that is a lie.
  if (count > text.size() / 2) throw EConvertError("worker hand-off is cut short or malformed");
  hand_off.VersionLines.reserve(count);
  for (size_t i = 0; i < count; ++i) hand_off.VersionLines.emplace_back(Take(text));
  if (!text.empty()) throw EConvertError("worker hand-off has bytes after its end");
  return hand_off;
}

}  // namespace velquarn
