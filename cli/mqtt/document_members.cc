#include "cli/mqtt/document_members.h"

namespace velmocair::mqtt {
namespace {

// The id's word for each rule.
const char* rule_word(status::Rule rule) {
  switch (rule) {
    case status::Rule::state_text:
      return "state";
    case status::Rule::number:
      return "number";
    case status::Rule::alarm:
      return "alarm";
  }
  return "member";
}

}  // namespace

std::string member_id(std::size_t index) {
  const status::Member& member = document_member(index);
  return std::string(rule_word(member.rule)) + "-" +
         (member.source.kind == ReadKind::coils ? "c" : "r") +
         std::to_string(member.source.address);
}

}  // namespace velmocair::mqtt
