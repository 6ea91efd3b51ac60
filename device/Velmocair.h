#pragma once

#include "commands/control_commands.h"
#include "device/UniDataDevice.h"
#include "device/Velmocair_Data_t.h"
#include "device/host_framework.h"
#include "device/host_result.h"
#include "device/poll_cycle_table.h"

// Publication id under which a completed record is handed to the host.
inline constexpr int kVelmocairPublicationId = 5156;

using VelmocairDataDevice = UniDataDevice<Velmocair_Data_t, SPModbus, kVelmocairPublicationId>;

// One precision air-conditioning unit on a Modbus line: polls its record,
// reports its alarms, carries out control commands and serves its status.
class Velmocair : public VelmocairDataDevice {
 public:
  // Result types of the host operations this class overrides, as the host
  // framework declares them (InitSetting's comes from the template base).
  using ValueResult = velmocair::host_result<&SPModbus::Get_Value>;
  using RefreshResult = velmocair::host_result<&SPModbus::RefreshStatus>;
  using PayloadResult = velmocair::host_result<&SPModbus::process_payload>;

  Velmocair();
  ~Velmocair() override;

  ValueResult Get_Value(unsigned id, const std::string& name) const override;
  SettingResult InitSetting(const Json::Value& setting) override;
  RefreshResult RefreshStatus() override;
  PayloadResult process_payload(tab_type table, unsigned count) override;
  int DeviceIoControl(int code, const void* in, int in_len, void* out, int out_cap,
                      int& out_len) override;

 protected:
  void RunCheckThreshold() override;

  int write_result = velmocair::kWriteResultNone;  // outcome of the last write
  int write_value = -1;  // value last written, compared with the unit's echo

 private:
  // The arguments of one DeviceIoControl call, handed to the base unchanged.
  struct IoRequest {
    int code;
    const void* in;
    int in_len;
    void* out;
    int out_cap;
    int& out_len;
  };

  void request(const velmocair::ReadRequest& read);
  PayloadResult AcknowledgeWrite();

  int PassToHost(const IoRequest& io);
  int RunNumericCommand(const velmocair::NumericCommand& command, const IoRequest& io);
  int RunJsonCommand(const IoRequest& io);
  int QueryWriteResult(const IoRequest& io);
  void BeginCommand(int code);
  void WriteRegister(const velmocair::NumericCommand& command, int value);

  int ReadStatusText(void* out, int out_cap, int& out_len);
  int ReadStatusReference(void* out, int out_cap, int& out_len);
  // Rebuilds the document when a cycle has completed since the last build;
  // the caller holds status_mutex.
  void BringStatusDocumentUpToDate();
  void RebuildStatusDocument();
};
