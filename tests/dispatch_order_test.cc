// The host calls a device and a provider through their virtual tables, so
// every virtual operation must sit in the slot the host expects. A pointer to
// a virtual member function holds 1 + its slot's byte offset (Itanium C++
// ABI, used by g++ and clang on this target); the destructor takes two slots.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "plugin/VelmocairProvider.h"
#include "tests/support/test_unit.h"

namespace {

template <class Member>
std::ptrdiff_t slot_of(Member member) {
  static_assert(sizeof(Member) == 2 * sizeof(std::ptrdiff_t));
  std::ptrdiff_t representation[2];
  std::memcpy(representation, &member, sizeof representation);
  EXPECT_EQ(representation[0] % 2, 1) << "not a virtual function";
  return (representation[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
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
