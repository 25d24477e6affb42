#include "wallpaper_store/idle_entry.h"

#include <exception>
#include <string_view>

#include "base/process_values.h"
#include "plist/format.h"
#include "text/percent_encoding.h"
#include "wallpaper_store/store_time.h"

namespace zeph {
namespace {

plist::Dictionary dictionaryOf(std::vector<plist::Dictionary::Member> members) {
  return plist::Dictionary::fromMembers(std::move(members), plist::DuplicateKeys::KeepFirst);
}

// The entry's "Content" → "Choices" when every element is a dictionary; an
// entry holding anything else there is no saver's, whatever else it holds.
const plist::Array* choicesOf(const plist::Dictionary* entry) {
  const plist::Dictionary* content = entry ? plist::dictionaryMember(*entry, "Content") : nullptr;
  const plist::Value* choicesValue = content ? content->find("Choices") : nullptr;
  const plist::Array* choices = choicesValue ? choicesValue->asArray() : nullptr;
  if (!choices) return nullptr;
  for (const plist::Value& choice : *choices) {
    if (!choice.asDictionary()) return nullptr;
  }
  return choices;
}

// The module URL of each choice in turn, until `matches` accepts one.
template <typename Match>
bool someChoiceUrl(const plist::Dictionary* entry, Match matches) {
  const plist::Array* choices = choicesOf(entry);
  if (!choices) return false;
  for (const plist::Value& choice : *choices) {
    const plist::Value* configuration = choice.asDictionary()->find("Configuration");
    std::optional<std::string> url = configuration ? moduleUrl(*configuration) : std::nullopt;
    if (url && matches(*url)) return true;
  }
  return false;
}

}  // namespace

std::string fileUrl(const std::string& path) {
  return "file://" + percentEncode(path, KeptCharacters::UrlPath);
}

std::vector<std::uint8_t> moduleConfiguration(const std::string& url) {
  plist::Value module(dictionaryOf({{"relative", plist::Value(url)}}));
  return plist::write(plist::Value(dictionaryOf({{"module", module}})), plist::Format::Binary);
}

std::optional<std::string> moduleUrl(const plist::Value& configuration) {
  const plist::Data* bytes = configuration.asData();
  if (!bytes) return std::nullopt;
  try {
    plist::Value root = plist::read(*bytes);
    const plist::Value* module = plist::member(root, "module");
    const plist::Value* relative = module ? plist::member(*module, "relative") : nullptr;
    const std::string* url = relative ? relative->asString() : nullptr;
    if (url) return *url;
  } catch (const std::exception&) {
    // Bytes that do not decode are simply not a saver's configuration.
  }
  return std::nullopt;
}

plist::Dictionary zephIdleNode() {
  plist::Value choice(dictionaryOf({
      {"Provider", plist::Value(kScreenSaverProvider)},
      {"Files", plist::Value(plist::Array{})},
      {"Configuration", plist::Value(moduleConfiguration(fileUrl(saverDest)))},
  }));
  plist::Value content(dictionaryOf({
      {"Choices", plist::Value(plist::Array{choice})},
      {"Shuffle", plist::Value("$null")},
  }));
  plist::Date lastSet = currentDate();
  plist::Date lastUse = currentDate();
  return dictionaryOf({
      {"Content", content},
      {"LastSet", plist::Value(lastSet)},
      {"LastUse", plist::Value(lastUse)},
  });
}

std::optional<std::string> filePathOfUrl(std::string_view url) {
  auto startsWithNoCase = [&url](std::string_view prefix) {
    if (url.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
      char c = url[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != prefix[i]) return false;
    }
    return true;
  };
  if (!startsWithNoCase("file:")) return std::nullopt;
  url.remove_prefix(5);
  if (url.substr(0, 2) == "//") {
    url.remove_prefix(2);
    if (startsWithNoCase("localhost/")) url.remove_prefix(9);
  }
  if (url.empty() || url[0] != '/' || url.find_first_of("?#") != std::string_view::npos) return std::nullopt;
  std::optional<std::string> path = percentDecode(url);
  if (path && path->size() > 1 && path->back() == '/') path->pop_back();
  return path;
}

bool selectsInstalledSaver(const plist::Dictionary* entry) {
  return someChoiceUrl(entry, [](const std::string& url) {
    std::optional<std::string> path = filePathOfUrl(url);
    return path && *path == saverDest;
  });
}

bool isZeph(const plist::Dictionary* entry) {
  return someChoiceUrl(entry,
                       [](const std::string& url) { return url.find("zeph.saver") != std::string::npos; });
}

}  // namespace zeph
