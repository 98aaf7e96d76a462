#include "app/coordination.h"

#include <cstring>

namespace brindle {

const wchar_t kInstanceMutexName[] = L"Tamek_Inc_RW_QX_BR_v1";
const wchar_t kHiddenWindowClass[] = L"Tamek.RW.Ostrel.StartBrindle";
const wchar_t kGatewatchWindowClass[] = L"Tamek.RW.Ostrel.StartGatewatch.1.1.0";

std::vector<std::wstring> InstallerMutexNames() {
  return {L"Tamek_ZNQ_Inst_v1", L"Tamek_ZNQ_UnInst_v1", L"Tamek_ZNQ_UninstWrapper_v1"};
}

namespace {
void PutLittleEndian(std::vector<std::uint8_t>& record, size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) record[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
}  // namespace

std::vector<std::uint8_t> BuildProgressRecord(std::uint32_t windowHandle, NoticeKind kind,
                                              const std::wstring& name, std::int32_t total, std::int32_t done,
                                              std::int32_t result) {
  std::vector<std::uint8_t> record(kProgressRecordSize, 0);
  PutLittleEndian(record, 0, windowHandle);
  PutLittleEndian(record, 4, static_cast<std::uint32_t>(NoticeKindCode(kind)));
  // UTF-16 units; a wide character beyond 16 bits (native build only) is cut to its low unit.
  const size_t units = name.size() < kProgressRecordNameChars ? name.size() : kProgressRecordNameChars;
  for (size_t i = 0; i < units; ++i) {
    const std::uint32_t unit = static_cast<std::uint32_t>(name[i]) & 0xFFFF;
    record[8 + 2 * i] = static_cast<std::uint8_t>(unit);
    record[9 + 2 * i] = static_cast<std::uint8_t>(unit >> 8);
  }
  PutLittleEndian(record, 536, static_cast<std::uint32_t>(total));
  PutLittleEndian(record, 540, static_cast<std::uint32_t>(done));
  PutLittleEndian(record, 544, static_cast<std::uint32_t>(result));
  return record;
}

}  // namespace brindle
