#include "core/device/config_block.h"

namespace qvl {

TConfigBlock DefaultConfigBlock() {
  TConfigBlock b;
  b.SetU8(cfg::kFrontPulses, 8);
  b.SetU8(cfg::kRearPulses, 8);
  b.SetF32(cfg::kFrontCircumference, 2.2343059f);
  b.SetF32(cfg::kRearCircumference, 2.2343059f);
  b.SetF32(cfg::kConstant1, 0.0254f);
  b.SetF32(cfg::kConstant2, 0.0254f);
  b.SetF32(cfg::kFrontTravel, 0.2f);
  b.SetF32(cfg::kRearTravel, 0.08f);
  b.SetF32(cfg::kFrontElectricalSpan, 0.2533f);
  b.SetF32(cfg::kRearElectricalSpan, 0.1013f);
  b.SetF32(cfg::kFrontMechanicalRange, 0.25f);
  b.SetF32(cfg::kRearMechanicalRange, 0.1f);
  b.SetI32(cfg::kSuspensionPeriod, 5000);
  b.SetI32(cfg::kAccelPeriod, 5000);
  b.SetI32(cfg::kAuxPeriod, 10000);
  b.SetI32(cfg::kMagPeriod, 20000);
  return b;
}

TLogControlBlock DefaultLogControlBlock() {
  TLogControlBlock b;
  b.SetU8(logctl::kMode, 0);
  b.SetU16(logctl::kWord2, 100);
  b.SetU32(logctl::kPeriod, 20000);
  b.SetU16(8, 3000);
  b.SetU16(10, 500);
  b.SetU16(12, 50);
  b.SetU16(14, 50);
  return b;
}

}  // namespace qvl
