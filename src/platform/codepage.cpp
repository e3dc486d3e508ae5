#include "platform/codepage.h"

namespace platform {
namespace {

LeadByteTable MakeGbkTable() {
  LeadByteTable table{};
  for (int b = 0x81; b <= 0xFE; ++b) table[static_cast<size_t>(b)] = true;
  return table;
}

const LeadByteTable* g_override = nullptr;

}  // namespace

const LeadByteTable& SystemLeadBytesOfPlatform();

const LeadByteTable& SystemLeadBytes() {
  return g_override != nullptr ? *g_override : SystemLeadBytesOfPlatform();
}

const LeadByteTable& GbkLeadBytes() {
  static const LeadByteTable table = MakeGbkTable();
  return table;
}

LeadBytesOverride::LeadBytesOverride(const LeadByteTable& table) : m_previous(g_override) { g_override = &table; }

LeadBytesOverride::~LeadBytesOverride() { g_override = m_previous; }

}  // namespace platform
