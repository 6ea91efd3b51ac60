// The host calls a device and a provider through their virtual tables, so
// every virtual operation must sit in the slot the host expects. A pointer to
// a virtual member function names its slot by the slot's byte offset in the
// table, laid out as the C++ ABI of the build defines it (below); the
// destructor takes two slots.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "plugin/VelmocairProvider.h"
#include "tests/support/test_unit.h"

namespace {

// The two words of a pointer to member function.
struct MemberPointer {
  std::ptrdiff_t function;
  std::ptrdiff_t adjustment;
};

#if defined(__arm__) || defined(__aarch64__)
// ARM C++ ABI: `function` is the slot's byte offset; `adjustment` is twice
// the this-adjustment, plus 1 for a virtual function.
constexpr bool is_virtual(MemberPointer p) { return p.adjustment % 2 != 0; }
constexpr std::ptrdiff_t slot_offset(MemberPointer p) { return p.function; }
constexpr std::ptrdiff_t this_adjustment(MemberPointer p) { return p.adjustment / 2; }
#else
// Itanium C++ ABI (x86-64): `function` is 1 + the slot's byte offset for a
// virtual function (odd, where a function's address is even); `adjustment`
// is the this-adjustment.
constexpr bool is_virtual(MemberPointer p) { return p.function % 2 != 0; }
constexpr std::ptrdiff_t slot_offset(MemberPointer p) { return p.function - 1; }
constexpr std::ptrdiff_t this_adjustment(MemberPointer p) { return p.adjustment; }
#endif

template <class Member>
std::ptrdiff_t slot_of(Member member) {
  static_assert(sizeof(Member) == sizeof(MemberPointer));
  MemberPointer words{};
  std::memcpy(&words, &member, sizeof words);
  EXPECT_TRUE(is_virtual(words)) << "not a virtual function";
  // Every operation is reached through the object's one table, at its start.
  EXPECT_EQ(this_adjustment(words), 0);
  return slot_offset(words) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

struct Slot {
  const char* operation;
  std::ptrdiff_t expected;
  std::ptrdiff_t actual;
};

using V = VelmocairProbe;

TEST(DispatchOrder, DeviceOperationsSitInTheHostsSlots) {
  // clang-format off
  const Slot slots[] = {
      {"Get_Value",                      0, slot_of(&V::Get_Value)},
      {"LoadFromCache(string)",          1, slot_of(static_cast<bool (V::*)(const std::string&)>(&V::LoadFromCache))},
      {"LoadFromCache(bytes, length)",   2, slot_of(static_cast<bool (V::*)(const unsigned char*, int)>(&V::LoadFromCache))},
      {"DataId",                         3, slot_of(&V::DataId)},
      {"DeviceType",                     4, slot_of(&V::DeviceType)},
      {"DeviceIoControl",                5, slot_of(&V::DeviceIoControl)},
      {"RoundDone",                      6, slot_of(&V::RoundDone)},
      {"UseControllerDb",                7, slot_of(&V::UseControllerDb)},
      // slots 8 and 9: the virtual destructor
      {"Reset",                         10, slot_of(&V::Reset)},
      {"InitV",                         11, slot_of(&V::InitV)},
      {"Init",                          12, slot_of(&V::Init)},
      {"InitSetting",                   13, slot_of(&V::InitSetting)},
      {"IsSupportDevice",               14, slot_of(&V::IsSupportDevice)},
      {"GetChildVDevice",               15, slot_of(&V::GetChildVDevice)},
      {"GetAllChildVDevices",           16, slot_of(&V::GetAllChildVDevices)},
      {"SendSP",                        17, slot_of(&V::SendSP)},
      {"SendDelayData",                 18, slot_of(&V::SendDelayData)},
      {"SendDoData",                    19, slot_of(&V::SendDoData)},
      {"ReadDi",                        20, slot_of(&V::ReadDi)},
      {"ReadAi",                        21, slot_of(&V::ReadAi)},
      {"Get_SP_Value",                  22, slot_of(&V::Get_SP_Value)},
      {"RefreshStatus",                 23, slot_of(&V::RefreshStatus)},
      {"process",                       24, slot_of(&V::process)},
      {"IsProcessing",                  25, slot_of(&V::IsProcessing)},
      {"IsStalled",                     26, slot_of(&V::IsStalled)},
      {"SendData",                      27, slot_of(&V::SendData)},
      {"SendParityData",                28, slot_of(&V::SendParityData)},
      {"OpenPort",                      29, slot_of(&V::OpenPort)},
      {"ClosePort",                     30, slot_of(&V::ClosePort)},
      {"process_payload",               31, slot_of(&V::process_payload)},
      {"on_error",                      32, slot_of(&V::on_error)},
      {"RunCheckThreshold",             33, slot_of(&V::RunCheckThreshold)},
  };
  // clang-format on
  for (const Slot& slot : slots) {
    EXPECT_EQ(slot.actual, slot.expected) << slot.operation;
  }
}

TEST(DispatchOrder, ProviderCreateFollowsTheDestructor) {
  EXPECT_EQ(slot_of(&VelmocairProvider::create), 2);
}

}  // namespace
