#pragma once

#include <array>
#include <cstddef>
#include <iterator>
#include <string>

#include "commands/status_document_table.h"

// The members a built status document holds: each assignment of the
// plug-in's build plan that no later assignment of the same group and key
// replaces (the smoke alarm's first source is replaced by its second).
namespace velmocair::mqtt {

namespace member_plan {

constexpr bool replaced_later(std::size_t index) {
  const status::Member& member = status::kStatusDocument.members[index];
  for (std::size_t later = index + 1; later < status::kStatusDocument.count; ++later) {
    const status::Member& other = status::kStatusDocument.members[later];
    if (same_text(other.group, member.group) && same_text(other.key, member.key)) {
      return true;
    }
  }
  return false;
}

constexpr std::size_t count_members() {
  std::size_t count = 0;
  for (std::size_t i = 0; i < status::kStatusDocument.count; ++i) {
    count += replaced_later(i) ? 0 : 1;
  }
  return count;
}

}  // namespace member_plan

inline constexpr std::size_t kMemberCount = member_plan::count_members();

// Positions in the plug-in's build plan of the document's members, in plan
// order.
constexpr std::array<std::size_t, kMemberCount> plan_positions() {
  std::array<std::size_t, kMemberCount> positions{};
  std::size_t next = 0;
  for (std::size_t i = 0; i < status::kStatusDocument.count; ++i) {
    if (!member_plan::replaced_later(i)) {
      positions[next++] = i;
    }
  }
  return positions;
}
inline constexpr std::array<std::size_t, kMemberCount> kPlanPositions = plan_positions();

constexpr const status::Member& document_member(std::size_t index) {
  return status::kStatusDocument.members[kPlanPositions[index]];
}

// The member of `group` named `key`; kMemberCount when there is none.
constexpr std::size_t member_index(const char* group, const char* key) {
  for (std::size_t i = 0; i < kMemberCount; ++i) {
    if (same_text(document_member(i).group, group) && same_text(document_member(i).key, key)) {
      return i;
    }
  }
  return kMemberCount;
}

// The number member showing holding register `address`; kMemberCount when
// there is none.
constexpr std::size_t number_member_of_register(int address) {
  for (std::size_t i = 0; i < kMemberCount; ++i) {
    const status::Member& member = document_member(i);
    if (member.rule == status::Rule::number && member.source.address == address) {
      return i;
    }
  }
  return kMemberCount;
}

constexpr std::size_t count_rule(status::Rule rule) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < kMemberCount; ++i) {
    count += document_member(i).rule == rule ? 1 : 0;
  }
  return count;
}

static_assert(count_rule(status::Rule::state_text) == std::size(status::kStateTexts));
static_assert(count_rule(status::Rule::number) ==
              std::size(status::kNumbers) + std::size(status::kSystem2MirroredNumbers));
static_assert(count_rule(status::Rule::alarm) == std::size(kAlarmTable),
              "one alarm member per alarm point");

// A member's id names its rule and its Modbus point; no two members share one.
constexpr bool member_ids_are_unique() {
  for (std::size_t i = 0; i < kMemberCount; ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      const status::Member& a = document_member(i);
      const status::Member& b = document_member(j);
      if (a.rule == b.rule && a.source.kind == b.source.kind &&
          a.source.address == b.source.address) {
        return false;
      }
    }
  }
  return true;
}
static_assert(member_ids_are_unique());

// The groups of the document, in the order of the build plan.
inline constexpr const char* kGroups[] = {status::kIndoor,   status::kSystem1,  status::kSystem2,
                                          status::kOutdoor1, status::kOutdoor2, status::kSettings,
                                          status::kPump1,    status::kPump2};

// The member's name on topics and in ids: its rule and the Modbus point it
// shows, "number-r8005", "state-c8001", "alarm-c8043".
std::string member_id(std::size_t index);

}  // namespace velmocair::mqtt
