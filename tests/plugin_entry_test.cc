// The entry point and provider, called directly and through dlopen as the
// host calls them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>

#include "host/SPModbus.h"
#include "plugin/get_providers.h"
#include "tests/support/scripted_host.h"

namespace {

std::shared_ptr<ORBSPDeviceProvider> serial_provider(
    const std::vector<std::shared_ptr<Provider>>& providers) {
  EXPECT_EQ(providers.size(), 1u);
  return providers.empty() ? nullptr
                           : std::dynamic_pointer_cast<ORBSPDeviceProvider>(providers.front());
}

TEST(GetProviders, EachCallReturnsOneNewProvider) {
  const auto first = get_providers();
  const auto second = get_providers();
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_NE(first[0].get(), second[0].get());
  EXPECT_NE(serial_provider(first), nullptr);
}

TEST(Provider, CreatesDistinctDevicesWithConstructorDefaults) {
  const auto provider = serial_provider(get_providers());
  ASSERT_NE(provider, nullptr);
  std::unique_ptr<ORBSPDevice> one(provider->create());
  std::unique_ptr<ORBSPDevice> two(provider->create());
  ASSERT_NE(one, nullptr);
  ASSERT_NE(two, nullptr);
  EXPECT_NE(one.get(), two.get());
  for (const auto* device : {one.get(), two.get()}) {
    EXPECT_EQ(device->DeviceType(), "velmocair");
    EXPECT_EQ(device->DataId(), 0u);
    EXPECT_FALSE(device->data_ready);
  }
}

TEST(Provider, DevicesOutliveTheirProvider) {
  auto providers = get_providers();
  std::unique_ptr<ORBSPDevice> device(serial_provider(providers)->create());
  providers.clear();
  TestHost host;
  EXPECT_EQ(device->Init(host.controller, 7, Json::Value(Json::objectValue)), 0);
  EXPECT_EQ(device->DataId(), 7u);
  EXPECT_EQ(device->DeviceType(), "velmocair");
}

// Loads the built plug-in the way the host does and drives one device
// through its life: lookup, provider, create, Init, destroy.
TEST(LoadedPlugin, DrivesADeviceThroughItsLife) {
  void* library = dlopen(VELMOCAIR_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto entry = reinterpret_cast<GetProvidersFunction>(dlsym(library, "get_providers"));
  ASSERT_NE(entry, nullptr) << dlerror();
  {
    const auto provider = serial_provider(entry());
    ASSERT_NE(provider, nullptr);
    std::unique_ptr<ORBSPDevice> device(provider->create());
    ASSERT_NE(device, nullptr);

    TestHost host;
    host.script->init_setting_result = 17;
    Json::Value setting(Json::objectValue);
    setting["appSetting"]["b_mode"] = 1;
    EXPECT_EQ(device->Init(host.controller, 0x01020304, setting), 17);
    EXPECT_EQ(device->DataId(), 0x01020304u);
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(host.calls[0]["call"], "InitSetting");
    EXPECT_EQ(host.calls[0]["args"][0], setting);

    auto* modbus = dynamic_cast<SPModbus*>(device.get());
    ASSERT_NE(modbus, nullptr);
    EXPECT_EQ(modbus->RefreshStatus(), 1);
    EXPECT_EQ(modbus->step, 11);
  }
  EXPECT_EQ(dlclose(library), 0);
}

}  // namespace
