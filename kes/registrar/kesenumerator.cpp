#include <kes/registrar/kesenumerator.h>

#include <cstddef>

namespace {

// A UTF-16 literal held as WCHAR units, built at compile time, so that the
// tables below are constant data, complete before any code of the library
// runs (no order of static initialisation to get wrong).
template <std::size_t N>
struct CKesSymbolText {
    WCHAR text[N];
    constexpr explicit CKesSymbolText(const char16_t (&theSource)[N]) : text() {
        for (std::size_t i = 0; i < N; ++i)
            text[i] = theSource[i];
    }
};

#define KES_SYMBOL(name, literal) constexpr CKesSymbolText the##name##Symbol(u"" literal);

KES_SYMBOL(DovPortUnknown, "DOV_PORT_UNKNOWN")
KES_SYMBOL(DovPortOc3Pos, "DOV_PORT_OC3_POS")
KES_SYMBOL(DovPortOc12Pos, "DOV_PORT_OC12_POS")
KES_SYMBOL(DovPortOc48Pos, "DOV_PORT_OC48_POS")
KES_SYMBOL(DovPortOc192Pos, "DOV_PORT_OC192_POS")
KES_SYMBOL(DovPortOc768Pos, "DOV_PORT_OC768_POS")
KES_SYMBOL(DovPortOc3Bert, "DOV_PORT_OC3_BERT")
KES_SYMBOL(DovPortOc12Bert, "DOV_PORT_OC12_BERT")
KES_SYMBOL(DovPortOc48Bert, "DOV_PORT_OC48_BERT")
KES_SYMBOL(DovPortOc192Bert, "DOV_PORT_OC192_BERT")
KES_SYMBOL(DovPortOc768Bert, "DOV_PORT_OC768_BERT")
KES_SYMBOL(DovPortGigabitEthernet, "DOV_PORT_GIGABIT_ETHERNET")
KES_SYMBOL(DovPortGigabitEthernetCopper, "DOV_PORT_GIGABIT_ETHERNET_COPPER")
KES_SYMBOL(DovPortGigabitEthernetFiber, "DOV_PORT_GIGABIT_ETHERNET_FIBER")
KES_SYMBOL(DovPortGigabitEthernetBert, "DOV_PORT_GIGABIT_ETHERNET_BERT")
KES_SYMBOL(DovPort10GigabitEthernetLan, "DOV_PORT_10GIGABIT_ETHERNET_LAN")
KES_SYMBOL(DovPort10GigabitEthernetWan, "DOV_PORT_10GIGABIT_ETHERNET_WAN")
KES_SYMBOL(DovPort10GigabitEthernetXaui, "DOV_PORT_10GIGABIT_ETHERNET_XAUI")
KES_SYMBOL(DovPort10GigabitEthernetBert, "DOV_PORT_10GIGABIT_ETHERNET_BERT")
KES_SYMBOL(DovPortAtmOc3, "DOV_PORT_ATM_OC3")
KES_SYMBOL(DovPortAtmOc12, "DOV_PORT_ATM_OC12")
KES_SYMBOL(DovPortAtmOc48, "DOV_PORT_ATM_OC48")
KES_SYMBOL(DovPortSerialV35, "DOV_PORT_SERIAL_V35")
KES_SYMBOL(DovPortSerialX21, "DOV_PORT_SERIAL_X21")
KES_SYMBOL(DovPortFastEthernet, "DOV_PORT_FAST_ETHERNET")
KES_SYMBOL(DovPortFastEthernetFiber, "DOV_PORT_FAST_ETHERNET_FIBER")
KES_SYMBOL(DovPortPciExpressX1, "DOV_PORT_PCI_EXPRESS_X1")
KES_SYMBOL(DovPortPciExpressX4, "DOV_PORT_PCI_EXPRESS_X4")
KES_SYMBOL(DovPortPciExpressX8, "DOV_PORT_PCI_EXPRESS_X8")
KES_SYMBOL(DovModuleUnknown, "DOV_MODULE_UNKNOWN")
KES_SYMBOL(DovModuleOc3Pos4, "DOV_MODULE_OC3_POS_4")
KES_SYMBOL(DovModuleOc12Pos4, "DOV_MODULE_OC12_POS_4")
KES_SYMBOL(DovModuleOc48Pos2, "DOV_MODULE_OC48_POS_2")
KES_SYMBOL(DovModuleOc48Pos4, "DOV_MODULE_OC48_POS_4")
KES_SYMBOL(DovModuleOc192Pos1, "DOV_MODULE_OC192_POS_1")
KES_SYMBOL(DovModuleOc192Pos2, "DOV_MODULE_OC192_POS_2")
KES_SYMBOL(DovModuleOc768Pos1, "DOV_MODULE_OC768_POS_1")
KES_SYMBOL(DovModuleOc192Bert1, "DOV_MODULE_OC192_BERT_1")
KES_SYMBOL(DovModuleOc3Bert4, "DOV_MODULE_OC3_BERT_4")
KES_SYMBOL(DovModuleOc12Bert4, "DOV_MODULE_OC12_BERT_4")
KES_SYMBOL(DovModuleOc48Bert2, "DOV_MODULE_OC48_BERT_2")
KES_SYMBOL(DovModuleOc48Bert4, "DOV_MODULE_OC48_BERT_4")
KES_SYMBOL(DovModuleGigE2, "DOV_MODULE_GIGE_2")
KES_SYMBOL(DovModuleGigE4, "DOV_MODULE_GIGE_4")
KES_SYMBOL(DovModuleGigECopper4, "DOV_MODULE_GIGE_COPPER_4")
KES_SYMBOL(DovModuleGigEBert2, "DOV_MODULE_GIGE_BERT_2")
KES_SYMBOL(DovModule10GigELan1, "DOV_MODULE_10GIGE_LAN_1")
KES_SYMBOL(DovModule10GigEWan1, "DOV_MODULE_10GIGE_WAN_1")
KES_SYMBOL(DovModule10GigEXaui2, "DOV_MODULE_10GIGE_XAUI_2")
KES_SYMBOL(DovModule10GigEBert1, "DOV_MODULE_10GIGE_BERT_1")
KES_SYMBOL(DovModuleAtmOc3x4, "DOV_MODULE_ATM_OC3X4")
KES_SYMBOL(DovModuleAtmOc12x2, "DOV_MODULE_ATM_OC12X2")
KES_SYMBOL(DovModuleAtmOc48x1, "DOV_MODULE_ATM_OC48X1")
KES_SYMBOL(DovModuleSerial4, "DOV_MODULE_SERIAL_4")
KES_SYMBOL(DovModuleFastEthernet4, "DOV_MODULE_FAST_ETHERNET_4")
KES_SYMBOL(DovCardController, "DOV_CARD_CONTROLLER")
KES_SYMBOL(DovCardTiming, "DOV_CARD_TIMING")
KES_SYMBOL(DovCardPciExpressX1, "DOV_CARD_PCI_EXPRESS_X1")
KES_SYMBOL(DovCardPciExpressX4, "DOV_CARD_PCI_EXPRESS_X4")
KES_SYMBOL(DovCardPciExpressX8, "DOV_CARD_PCI_EXPRESS_X8")
#undef KES_SYMBOL

}  // namespace

// The OC-768 ports came after the BERT ports had taken 5 to 8, hence 9 and
// 10 beside their relatives; 28 was withdrawn and has no row.
const _TKesEnumEntry theDovPortTypeTable[30] = {
    {DovPortUnknown, theDovPortUnknownSymbol.text},
    {DovPortOc3Pos, theDovPortOc3PosSymbol.text},
    {DovPortOc12Pos, theDovPortOc12PosSymbol.text},
    {DovPortOc48Pos, theDovPortOc48PosSymbol.text},
    {DovPortOc192Pos, theDovPortOc192PosSymbol.text},
    {DovPortOc768Pos, theDovPortOc768PosSymbol.text},
    {DovPortOc3Bert, theDovPortOc3BertSymbol.text},
    {DovPortOc12Bert, theDovPortOc12BertSymbol.text},
    {DovPortOc48Bert, theDovPortOc48BertSymbol.text},
    {DovPortOc192Bert, theDovPortOc192BertSymbol.text},
    {DovPortOc768Bert, theDovPortOc768BertSymbol.text},
    {DovPortGigabitEthernet, theDovPortGigabitEthernetSymbol.text},
    {DovPortGigabitEthernetCopper, theDovPortGigabitEthernetCopperSymbol.text},
    {DovPortGigabitEthernetFiber, theDovPortGigabitEthernetFiberSymbol.text},
    {DovPortGigabitEthernetBert, theDovPortGigabitEthernetBertSymbol.text},
    {DovPort10GigabitEthernetLan, theDovPort10GigabitEthernetLanSymbol.text},
    {DovPort10GigabitEthernetWan, theDovPort10GigabitEthernetWanSymbol.text},
    {DovPort10GigabitEthernetXaui, theDovPort10GigabitEthernetXauiSymbol.text},
    {DovPort10GigabitEthernetBert, theDovPort10GigabitEthernetBertSymbol.text},
    {DovPortAtmOc3, theDovPortAtmOc3Symbol.text},
    {DovPortAtmOc12, theDovPortAtmOc12Symbol.text},
    {DovPortAtmOc48, theDovPortAtmOc48Symbol.text},
    {DovPortSerialV35, theDovPortSerialV35Symbol.text},
    {DovPortSerialX21, theDovPortSerialX21Symbol.text},
    {DovPortFastEthernet, theDovPortFastEthernetSymbol.text},
    {DovPortFastEthernetFiber, theDovPortFastEthernetFiberSymbol.text},
    {DovPortPciExpressX1, theDovPortPciExpressX1Symbol.text},
    {DovPortPciExpressX4, theDovPortPciExpressX4Symbol.text},
    {DovPortPciExpressX8, theDovPortPciExpressX8Symbol.text},
    {KES_ENUM_END, nullptr},
};

// The OC-192 BERT module took the next free number, 12, when it came.
const _TKesEnumEntry theDovModuleTypeTable[32] = {
    {DovModuleUnknown, theDovModuleUnknownSymbol.text},
    {DovModuleOc3Pos4, theDovModuleOc3Pos4Symbol.text},
    {DovModuleOc12Pos4, theDovModuleOc12Pos4Symbol.text},
    {DovModuleOc48Pos2, theDovModuleOc48Pos2Symbol.text},
    {DovModuleOc48Pos4, theDovModuleOc48Pos4Symbol.text},
    {DovModuleOc192Pos1, theDovModuleOc192Pos1Symbol.text},
    {DovModuleOc192Pos2, theDovModuleOc192Pos2Symbol.text},
    {DovModuleOc768Pos1, theDovModuleOc768Pos1Symbol.text},
    {DovModuleOc192Bert1, theDovModuleOc192Bert1Symbol.text},
    {DovModuleOc3Bert4, theDovModuleOc3Bert4Symbol.text},
    {DovModuleOc12Bert4, theDovModuleOc12Bert4Symbol.text},
    {DovModuleOc48Bert2, theDovModuleOc48Bert2Symbol.text},
    {DovModuleOc48Bert4, theDovModuleOc48Bert4Symbol.text},
    {DovModuleGigE2, theDovModuleGigE2Symbol.text},
    {DovModuleGigE4, theDovModuleGigE4Symbol.text},
    {DovModuleGigECopper4, theDovModuleGigECopper4Symbol.text},
    {DovModuleGigEBert2, theDovModuleGigEBert2Symbol.text},
    {DovModule10GigELan1, theDovModule10GigELan1Symbol.text},
    {DovModule10GigEWan1, theDovModule10GigEWan1Symbol.text},
    {DovModule10GigEXaui2, theDovModule10GigEXaui2Symbol.text},
    {DovModule10GigEBert1, theDovModule10GigEBert1Symbol.text},
    {DovModuleAtmOc3x4, theDovModuleAtmOc3x4Symbol.text},
    {DovModuleAtmOc12x2, theDovModuleAtmOc12x2Symbol.text},
    {DovModuleAtmOc48x1, theDovModuleAtmOc48x1Symbol.text},
    {DovModuleSerial4, theDovModuleSerial4Symbol.text},
    {DovModuleFastEthernet4, theDovModuleFastEthernet4Symbol.text},
    {DovCardController, theDovCardControllerSymbol.text},
    {DovCardTiming, theDovCardTimingSymbol.text},
    {DovCardPciExpressX1, theDovCardPciExpressX1Symbol.text},
    {DovCardPciExpressX4, theDovCardPciExpressX4Symbol.text},
    {DovCardPciExpressX8, theDovCardPciExpressX8Symbol.text},
    {KES_ENUM_END, nullptr},
};

CKesEnumeratorEDovPortType::CKesEnumeratorEDovPortType(const _TKesEnumEntry* theTable)
    : CKesEnumeratorB<_TKesEnumEntry>(theTable, host::wstring(OLESTR("EDovPortType"))) {}

CKesEnumeratorEDovModuleType::CKesEnumeratorEDovModuleType(const _TKesEnumEntry* theTable)
    : CKesEnumeratorB<_TKesEnumEntry>(theTable, host::wstring(OLESTR("EDovModuleType"))) {}
