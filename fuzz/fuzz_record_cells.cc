// A stored record of any bytes and any length decoded into the cells of its
// status document: only a record of 441 bytes decodes, and its cells agree
// leaf by leaf with the document a device builds from the same record.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "commands/document_comparison.h"
#include "commands/record_cells.h"
#include "fuzz/fuzz_device.h"
#include "host/NullController.h"

using velmocair::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Built once: its leaves never change, and each decoding overwrites every cell.
  static velmocair::status::RecordCells cells;
  const bool decoded = cells.decode(data, size);
  require(decoded == (size == velmocair::fuzz::kRecordSize));
  if (!decoded) {
    return 0;
  }
  for (const velmocair::status::Cell& cell : cells.cells()) {
    char text[velmocair::status::kNumberTextCapacity];
    require(cell.kind != velmocair::status::CellKind::number ||
            velmocair::status::number_text(cell, text) < sizeof text);
  }

  const auto host = std::make_shared<NullController>();
  velmocair::fuzz::FuzzDevice device;
  device.Init(host, 1, Json::Value(Json::objectValue));
  require(device.LoadFromCache(data, static_cast<int>(size)));
  const Json::Value* document = nullptr;
  int length = 0;
  require(device.DeviceIoControl(velmocair::kStatusReferenceCode, nullptr, 0, &document,
                                 static_cast<int>(sizeof document), length) == 0);
  require(!velmocair::status::first_difference(cells, data, size, *document));
  return 0;
}
