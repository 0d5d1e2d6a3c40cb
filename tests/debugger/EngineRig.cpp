// The rig's emulation thread: the one place the interpreter is compiled for its bus.
#include "EngineRig.h"

void EngineRig::start(int cyclePeriod) {
    resetCpu(cpu);
    cpu.cyclePeriod = cyclePeriod;
    cpu.cycleBudget = cyclePeriod;  // the first slice as long as the others
    cpu.cpuFlags = CpuIm1;
    thread = std::thread([this] { runCpu(cpu, bus); });
}
