// The tester's kinds of ports, modules and test sessions, as the tester
// server numbers them.
//
// Header-only, shared by kes and the simulated server. The numbers are part
// of the tester's interfaces and never change: a new kind gets a new number,
// which is why a few kinds that were added later sit beside their relatives
// with numbers out of sequence (the OC-768 ports, the OC-192 BERT module), and
// why port type 28, withdrawn long ago, has no kind at all.
#pragma once

#include <cstdint>

// Line-interface kinds of a tester port.
enum EDovPortType : std::int32_t {
    DovPortUnknown = 0,
    DovPortOc3Pos = 1,
    DovPortOc12Pos = 2,
    DovPortOc48Pos = 3,
    DovPortOc192Pos = 4,
    DovPortOc768Pos = 9,
    DovPortOc3Bert = 5,
    DovPortOc12Bert = 6,
    DovPortOc48Bert = 7,
    DovPortOc192Bert = 8,
    DovPortOc768Bert = 10,
    DovPortGigabitEthernet = 11,
    DovPortGigabitEthernetCopper = 12,
    DovPortGigabitEthernetFiber = 13,
    DovPortGigabitEthernetBert = 14,
    DovPort10GigabitEthernetLan = 15,
    DovPort10GigabitEthernetWan = 16,
    DovPort10GigabitEthernetXaui = 17,
    DovPort10GigabitEthernetBert = 18,
    DovPortAtmOc3 = 19,
    DovPortAtmOc12 = 20,
    DovPortAtmOc48 = 21,
    DovPortSerialV35 = 22,
    DovPortSerialX21 = 23,
    DovPortFastEthernet = 24,
    DovPortFastEthernetFiber = 25,
    DovPortPciExpressX1 = 26,
    DovPortPciExpressX4 = 27,
    // 28 is not used.
    DovPortPciExpressX8 = 29,
};

// Module (line card) kinds and the other cards of a tester chassis; the
// trailing number of a module is its port count.
enum EDovModuleType : std::int32_t {
    DovModuleUnknown = 0,
    DovModuleOc3Pos4 = 1,
    DovModuleOc12Pos4 = 2,
    DovModuleOc48Pos2 = 3,
    DovModuleOc48Pos4 = 4,
    DovModuleOc192Pos1 = 5,
    DovModuleOc192Pos2 = 6,
    DovModuleOc768Pos1 = 7,
    DovModuleOc192Bert1 = 12,
    DovModuleOc3Bert4 = 8,
    DovModuleOc12Bert4 = 9,
    DovModuleOc48Bert2 = 10,
    DovModuleOc48Bert4 = 11,
    DovModuleGigE2 = 13,
    DovModuleGigE4 = 14,
    DovModuleGigECopper4 = 15,
    DovModuleGigEBert2 = 16,
    DovModule10GigELan1 = 17,
    DovModule10GigEWan1 = 18,
    DovModule10GigEXaui2 = 19,
    DovModule10GigEBert1 = 20,
    DovModuleAtmOc3x4 = 21,
    DovModuleAtmOc12x2 = 22,
    DovModuleAtmOc48x1 = 23,
    DovModuleSerial4 = 24,
    DovModuleFastEthernet4 = 25,
    DovCardController = 26,
    DovCardTiming = 27,
    DovCardPciExpressX1 = 28,
    DovCardPciExpressX4 = 29,
    DovCardPciExpressX8 = 30,
};

// Kinds of test session; each but the last is run by one of the tester's
// test applications.
enum EDovSessionType : std::int32_t {
    DovSessionTraffic = 0,
    DovSessionRouting = 1,
    DovSessionBitError = 2,
    DovSessionCapture = 3,
    DovSessionLatency = 4,
    DovSessionFailover = 5,
    DovSessionWorkbench = 6,
    DovSessionScript = 7,
    DovSessionUnknown = 8,
};
