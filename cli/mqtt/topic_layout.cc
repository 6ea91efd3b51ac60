#include "cli/mqtt/topic_layout.h"

#include <algorithm>
#include <utility>

namespace velmocair::mqtt {
namespace {

constexpr std::size_t kMaxTopicId = 64;
constexpr std::string_view kBridge = "bridge";
constexpr std::string_view kSetLevel = "/set/";

bool is_id_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

}  // namespace

TopicLayout::TopicLayout(std::string base, std::string discovery_prefix)
    : base_(std::move(base)), prefix_(std::move(discovery_prefix)) {}

std::optional<TopicLayout::SetAddress> TopicLayout::match_set(std::string_view topic) const {
  if (topic.size() <= base_.size() + 1 || topic.compare(0, base_.size(), base_) != 0 ||
      topic[base_.size()] != '/') {
    return std::nullopt;
  }
  const std::string_view rest = topic.substr(base_.size() + 1);
  const std::size_t set = rest.find(kSetLevel);
  if (set == std::string_view::npos || set == 0) {
    return std::nullopt;
  }
  const std::string_view unit = rest.substr(0, set);
  const std::string_view word = rest.substr(set + kSetLevel.size());
  if (unit.find('/') != std::string_view::npos || word.empty() ||
      word.find('/') != std::string_view::npos) {
    return std::nullopt;
  }
  return SetAddress{unit, word};
}

std::string unit_topic_id(const std::string& name, std::uint32_t data_id) {
  const bool plain = !name.empty() && name.size() <= kMaxTopicId && name != kBridge &&
                     std::all_of(name.begin(), name.end(), is_id_char);
  return plain ? name : "unit-" + std::to_string(data_id);
}

std::string id_word(const std::string& topic) {
  std::string word = topic;
  std::replace_if(
      word.begin(), word.end(), [](char c) { return !is_id_char(c); }, '_');
  return word;
}

}  // namespace velmocair::mqtt
