// The planner's built-in tables: the memory map, the driver table, the
// Exec type and module type names and the Exec 3.x constants.
#include <cstddef>
#include <initializer_list>

#include "planner.h"

namespace varnel {
namespace {

// Builds a DriverInfo at compile time: the description padded with blanks to
// 31 characters (then NULs), the Exec type and up to three allowed types.
template <size_t N>
consteval DriverInfo Info(const char (&description)[N], int16_t execType,
                          std::initializer_list<uint16_t> allowed) {
  static_assert(N - 1 <= 31, "a driver description holds at most 31 characters");
  DriverInfo info{};
  for (size_t i = 0; i < 31; ++i) info.description[i] = i < N - 1 ? description[i] : ' ';
  info.SetExecType(execType);
  int slot = 0;
  for (uint16_t type : allowed) info.SetAllowedType(slot++, type);
  return info;
}

constexpr MemoryMapRow kMemoryMap[kMemoryMapRows] = {
    {"32C000??????", "Assuming 16K Exec 3.2", {{1, 0x8000, 0xBFFF}, {2, 0x6729, 0x7FFF}}},
    {"??FFFF??????", "FB FIT", {{1, 0x8000, 0xFFFF}, {2, 0x1000, 0x7FFF}}},
    {"??????80????", "Expansion bus master, 16K + 6K",
     {{1, 0x8000, 0xBFFF}, {1, 0x4800, 0x5FFF}, {2, 0x6729, 0x7B7F}}},
    {"??????8?????", "Expansion bus I/O module, 8K", {{1, 0x8000, 0x9FFF}, {2, 0x6729, 0x7A7F}}},
    {"??????1A????", "Process controller, split data",
     {{1, 0x8000, 0xB5FF}, {1, 0xB800, 0xBFFF}, {2, 0x5400, 0x5FFF}, {2, 0x6B00, 0x7FFF}}},
    {"??????1B????", "Process controller, extended",
     {{1, 0x8000, 0xB5FF}, {1, 0xB800, 0xBFFF}, {1, 0x4800, 0x5FFF}, {2, 0x6729, 0x7FFF}}},
    {"??????22????", "Zone controller, split data",
     {{1, 0x8000, 0xB5FF}, {1, 0xB800, 0xBFFF}, {2, 0x5400, 0x5FFF}, {2, 0x6B00, 0x7FFF}}},
    {"??????18????", "General purpose controller, 16K", {{1, 0x8000, 0xBFFF}, {2, 0x6B00, 0x7FFF}}},
    {"??D000??????", "Large unit controller, 31K",
     {{1, 0x8000, 0xBFFF}, {1, 0x2000, 0x3FFF}, {1, 0x0400, 0x1FFF}, {2, 0x6729, 0x7FFF}}},
    {"33E000??????", "24K Exec 3.x", {{1, 0x8000, 0xBFFF}, {1, 0x2000, 0x3FFF}, {2, 0x6729, 0x7FFF}}},
    {"34E000??????", "Unit controller, 22K Exec 3.4",
     {{1, 0x8000, 0xBFFF}, {1, 0x4800, 0x5FFF}, {2, 0x6729, 0x7FFF}}},
    {"3?C000??????", "16K Exec 3.x", {{1, 0x8000, 0xBFFF}, {2, 0x6729, 0x7FFF}}},
    {"40C000??8???", "16K Exec 4.x, Virtual",
     {{1, 0x8000, 0xBFFF}, {2, 0x5400, 0x5FFF}, {2, 0x6B00, 0x7FFF}}},
    {"40C000??????", "16K Exec 4.x", {{1, 0x8000, 0xBFFF}, {2, 0x5400, 0x5FFF}, {2, 0x6B00, 0x7FFF}}},
    {"400040??????", "16K Exec 4.x", {{1, 0x8000, 0xBFFF}, {2, 0x5400, 0x5FFF}, {2, 0x6B00, 0x7FFF}}},
    {"404000??????", "16K Exec 4.x", {{1, 0x8000, 0xBFFF}, {2, 0x5400, 0x5FFF}, {2, 0x6B00, 0x7FFF}}},
    {"400000??????", "16K Exec 4.x", {{1, 0x8000, 0xBFFF}, {2, 0x5400, 0x5FFF}, {2, 0x6B00, 0x7FFF}}},
    {"50??????????", "Exec 5.0x", {{1, 0x0100, 0xFFFE}, {2, 0x0000, 0x00FF}}},
    {"51??????????", "Exec 5.1x", {{1, 0x0100, 0xFFFE}, {2, 0x0000, 0x00FF}}},
    {"60??????????", "Exec 6.0x", {{1, 0x0100, 0xFFFE}, {2, 0x0000, 0x00FF}}},
};

// Rows are searched in order.  Every code ending in I stands before the two
// "??I" rows, so such a code finds its own row first; the Exec type 3 "??I"
// row stands before the Exec type 5 one.
constexpr DriverTableRow kDriverTable[kDriverTableRows] = {
    {"DIN", Info("Digital input driver, 16 points", 1, {1}), {"3.2", "3.4"}, {"8", "16"}},
    {"DOU", Info("Digital output driver 16 points", 1, {2}), {"3.2", "3.4"}, {"8", "16"}},
    {"AIN", Info("Analog input driver, 8 channels", 1, {3}), {"3.2"}, {"16"}},
    {"AOU", Info("Analog output driver, 4 channel", 1, {5}), {"3.2"}, {"16"}},
    {"UIN", Info("Universal input driver", 1, {6}), {"3.3"}, {"16", "24"}},
    {"ROU", Info("Relay output driver, 8 points", 1, {7}), {"3.2"}, {"8"}},
    {"MIX", Info("Mixed input and output driver", 1, {8}), {"3.2", "3.3"}, {"16"}},
    {"UCS", Info("Small unit controller driver", 1, {11, 12}), {"3.2"}, {"16"}},
    {"UCM", Info("Medium unit controller driver", 1, {12, 13}), {"3.3", "3.4"}, {"22", "24"}},
    {"AHU", Info("Air handler controller driver", 1, {14}), {"3.4"}, {"24", "31"}},
    {"TBX", Info("Terminal box controller driver", 1, {15}), {"3.2"}, {"8"}},
    {"BSQ", Info("Boiler sequencing driver", 1, {17}), {"3.3"}, {"16"}},
    {"XBM", Info("Expansion bus master driver", 1, {128}), {"3.2"}, {"16"}},
    {"XBI", Info("Expansion bus I/O driver", 1, {129, 130, 131}), {"3.2"}, {"8"}},
    {"CHL", Info("Chiller plant driver", 2, {22}), {"3.4", "3.5"}, {"24"}},
    {"LPC", Info("Lighting panel driver", 2, {23}), {"3.4"}, {"16"}},
    {"GPC", Info("General purpose controller drv", 2, {24}), {"3.5"}, {"16", "24"}},
    {"NWK", Info("Network interface driver", 2, {25}), {"3.5"}, {"16"}},
    {"PCS", Info("Process controller driver", 2, {26, 27}), {"3.6"}, {"24"}},
    {"PUL", Info("Pulse counter driver", 2, {28}), {"3.4"}, {"8"}},
    {"THM", Info("Thermistor input driver", 2, {29}), {"3.4"}, {"16"}},
    {"HUM", Info("Humidity interface driver", 2, {30}), {"3.5"}, {"16"}},
    {"PRS", Info("Pressure interface driver", 2, {31}), {"3.5"}, {"16"}},
    {"PWR", Info("Power meter driver", 2, {32}), {"3.7"}, {"22"}},
    {"ODP", Info("Operator display panel driver", 6, {33}), {"3.6"}, {"24"}},
    {"ZNC", Info("Zone controller driver", 6, {34}), {"3.6"}, {"24", "31"}},
    {"FCU", Info("Fan coil controller driver", 6, {36}), {"3.6"}, {"16"}},
    {"HPC", Info("Heat pump controller driver", 6, {37}), {"3.6", "3.8"}, {"16"}},
    {"RTU", Info("Rooftop unit controller driver", 6, {38}), {"3.8"}, {"24"}},
    {"VSD", Info("Speed drive interface driver", 6, {39}), {"3.8", "3.9"}, {"31"}},
    {"DAM", Info("Damper actuator driver", 6, {40}), {"3.9"}, {"16"}},
    {"VLV", Info("Valve actuator driver", 6, {41}), {"3.9"}, {"16"}},
    {"OCI", Info("Occupancy interface driver", 3, {42}), {"4.0"}, {"16"}},
    {"ACI", Info("Access door interface driver", 3, {43}), {"4.0"}, {"16"}},
    {"ALI", Info("Alarm annunciator interface", 5, {44}), {"6.0"}, {"128", "256"}},
    {"SGI", Info("Serial gateway interface driver", 4, {47}), {"4.0"}, {"16"}},
    {"MDI", Info("Modem interface driver", 1, {48}), {"3.2"}, {"8", "16"}},
    {"PRI", Info("Printer interface driver", 2, {49}), {"3.4"}, {"16"}},
    {"KPI", Info("Keypad terminal interface", 6, {50}), {"3.6"}, {"24"}},
    {"TLI", Info("Trend logger interface driver", 5, {45}), {"6.0"}, {"512"}},
    {"SCH", Info("Time schedule driver", 3, {46}), {"4.0"}, {"16"}},
    {"WSM", Info("Wall sensor driver", 3, {51}), {"4.0"}, {"16"}},
    {"OAS", Info("Outdoor air sensor driver", 3, {52}), {"4.0"}, {"16"}},
    {"FRZ", Info("Freeze protection driver", 3, {53}), {"4.0"}, {"16"}},
    {"SMK", Info("Smoke damper driver", 3, {54}), {"4.0"}, {"16"}},
    {"EXF", Info("Exhaust fan controller driver", 3, {55, 255}), {"4.0"}, {"16"}},
    {"CTW", Info("Cooling tower controller driver", 3, {56}), {"4.0"}, {"16"}},
    {"PMP", Info("Pump sequencing driver", 3, {57}), {"4.0"}, {"16"}},
    {"STV", Info("Steam valve controller driver", 3, {58}), {"4.0"}, {"16"}},
    {"RAD", Info("Radiant panel controller driver", 4, {59}), {"4.0"}, {"16"}},
    {"SNW", Info("Snow melt controller driver", 4, {60}), {"4.0"}, {"16"}},
    {"WHT", Info("Water heater controller driver", 4, {61}), {"4.0"}, {"16"}},
    {"ENM", Info("Energy meter driver", 4, {62}), {"4.0"}, {"16"}},
    {"DLM", Info("Demand limiting driver", 4, {63}), {"4.0"}, {"16"}},
    {"LSH", Info("Load shedding driver", 4, {64}), {"4.0"}, {"16"}},
    {"LRM", Info("Lighting relay driver", 4, {65}), {"4.0"}, {"16"}},
    {"LDM", Info("Lighting dimmer driver", 4, {66}), {"4.0"}, {"16"}},
    {"DI3", Info("Digital input driver, 32 points", 5, {67}), {"6.0"}, {"128"}},
    {"DO3", Info("Digital output driver 32 points", 5, {68}), {"6.0"}, {"128"}},
    {"AIX", Info("Analog input driver, 16 channel", 5, {71}), {"6.0"}, {"256"}},
    {"AOX", Info("Analog output driver, 8 channel", 5, {72}), {"6.0"}, {"256"}},
    {"UIO", Info("Universal I/O driver", 5, {73}), {"6.0"}, {"256", "512"}},
    {"RTR", Info("Router driver", 5, {74}), {"6.0"}, {"512"}},
    {"RPT", Info("Repeater driver", 5, {75}), {"6.0"}, {"128"}},
    {"SVC", Info("Supervisory controller driver", 5, {76, 255}), {"6.0"}, {"512", "1024"}},
    {"??I", Info("Generic interface driver", 3, {42, 43, 47}), {"4.0"}, {"16"}},
    {"PST", Info("Service tool driver", 3, {77}), {"4.0"}, {"16"}},
    {"LAF", Info("Laboratory airflow driver", 3, {80}), {"4.0"}, {"16"}},
    {"RPC", Info("Room pressure controller driver", 3, {81}), {"4.0"}, {"16"}},
    {"FHC", Info("Fume hood controller driver", 4, {82}), {"4.0"}, {"16"}},
    {"CRC", Info("Clean room controller driver", 4, {83}), {"4.0"}, {"16"}},
    {"DCC", Info("Data center cooling driver", 5, {84}), {"6.0"}, {"1024"}},
    {"RFC", Info("Refrigeration case driver", 5, {85}), {"6.0"}, {"256"}},
    {"RNK", Info("Ice rink controller driver", 5, {86}), {"6.0"}, {"128", "256"}},
    {"??I", Info("Generic interface driver, Exec5", 5, {44, 45, 47}), {"6.0"}, {"256", "1024"}},
    {"XBE", Info("Expansion bus driver, Exec 4", 3, {129, 130, 131}), {"4.0"}, {"16"}},
    {"XB5", Info("Expansion bus driver, Exec 5", 5, {129, 130, 131}), {"6.0"}, {"128"}},
    {"GP4", Info("General purpose driver, Exec 4", 4, {24}), {"4.0"}, {"16"}},
    {"PC4", Info("Process controller driver, Ex 4", 3, {26, 27, 34}), {"4.0"}, {"16"}},
    {"ZN5", Info("Zone controller driver, Exec 5", 5, {34}), {"6.0"}, {"1024"}},
};

constexpr DriverInfo kDefaultDriverInfo = Info("Exec 3.2 with no driver", 1, {255});

constexpr const char* kExecTypeNames[8] = {
    "Unknown",
    "Exec 3.xx: EEPROM and LIB",
    "Exec 3.xx: EEPCOM and LIB",
    "Exec 4.0x: EEP400 and LIB400",
    "Exec 4.0x: EEPQX4 and LIB400",
    "Exec 5.x: EEP5xx and LIB5xx",
    "Exec 3.6: EEP360 and LIB",
    "Unknown",
};

constexpr int kModuleTypeNameCount = 87;
constexpr const char* kModuleTypeNames[kModuleTypeNameCount] = {
    "Unknown module type",  // 0
    "Digital input module, 16 points",  // 1
    "Digital output module, 16 points",  // 2
    "Analog input module, 8 channels",  // 3
    "???",  // 4
    "Analog output module, 4 channels",  // 5
    "Universal input module, 8 channels",  // 6
    "Relay output module, 8 points",  // 7
    "Mixed input and output module",  // 8
    "???",  // 9
    "???",  // 10
    "Small unit controller",  // 11
    "Medium unit controller",  // 12
    "Large unit controller",  // 13
    "Air handler controller",  // 14
    "Terminal box controller",  // 15
    "???",  // 16
    "Boiler sequencing controller",  // 17
    "???",  // 18
    "???",  // 19
    "???",  // 20
    "???",  // 21
    "Chiller plant controller",  // 22
    "Lighting panel controller",  // 23
    "General purpose controller",  // 24
    "Network interface module",  // 25
    "Process controller",  // 26
    "Process controller, extended",  // 27
    "Pulse counter module",  // 28
    "Thermistor input module",  // 29
    "Humidity sensor interface",  // 30
    "Pressure sensor interface",  // 31
    "Power meter interface",  // 32
    "Operator display panel",  // 33
    "Zone controller",  // 34
    "???",  // 35
    "Fan coil controller",  // 36
    "Heat pump controller",  // 37
    "Rooftop unit controller",  // 38
    "Variable speed drive interface",  // 39
    "Damper actuator module",  // 40
    "Valve actuator module",  // 41
    "Occupancy sensor interface",  // 42
    "Access door controller",  // 43
    "Alarm annunciator module",  // 44
    "Trend logger module",  // 45
    "Time schedule module",  // 46
    "Serial gateway module",  // 47
    "Modem interface module",  // 48
    "Printer interface module",  // 49
    "Keypad terminal module",  // 50
    "Wall sensor module",  // 51
    "Outdoor air sensor module",  // 52
    "Freeze protection module",  // 53
    "Smoke damper module",  // 54
    "Exhaust fan controller",  // 55
    "Cooling tower controller",  // 56
    "Pump sequencing controller",  // 57
    "Steam valve controller",  // 58
    "Radiant panel controller",  // 59
    "Snow melt controller",  // 60
    "Water heater controller",  // 61
    "Energy meter module",  // 62
    "Demand limiting module",  // 63
    "Load shedding module",  // 64
    "Lighting relay module, 16 points",  // 65
    "Lighting dimmer module",  // 66
    "Digital input module, 32 points",  // 67
    "Digital output module, 32 points",  // 68
    "???",  // 69
    "???",  // 70
    "Analog input module, 16 channels",  // 71
    "Analog output module, 8 channels",  // 72
    "Universal I/O module, 16 channels",  // 73
    "Router module",  // 74
    "Repeater module",  // 75
    "Supervisory controller",  // 76
    "Portable service tool",  // 77
    "Unrecognized (new) module type",  // 78
    "Unrecognized (new) module type",  // 79
    "Laboratory airflow controller",  // 80
    "Room pressure controller",  // 81
    "Fume hood controller",  // 82
    "Clean room controller",  // 83
    "Data center cooling controller",  // 84
    "Refrigeration case controller",  // 85
    "Ice rink controller",  // 86
};
constexpr const char* kExpansionMasterName = "Expansion bus master module";  // 128
constexpr const char* kExpansionIoName = "Expansion bus I/O module";         // 129 to 142
constexpr const char* kUnrecognizedName = "Unrecognized (new) module type";

constexpr const char* kExec3ConstantTable[kExec3ConstantTexts] = {
    "DEFINE RPEPROM  A000\n"
    "DEFINE STACK2   4541\n"
    "DEFINE OAHUM    41A6\n"
    "DEFINE XWRHEXL  3F2A\n",
    "DEFINE RP4321   A000\n"
    "DEFINE STACK3   45A1\n"
    "DEFINE HALTTIME 41AC\n"
    "DEFINE XWRMESEN 3F2B\n",
    "DEFINE RPLOAD   A004\n"
    "DEFINE STACK0   45E1\n"
    "DEFINE DC_ERR   41B3\n"
    "DEFINE XRDCHR   3F2C\n",
    "DEFINE RPNAME   A006\n"
    "DEFINE STACK1   4621\n"
    "DEFINE DC_CP1   41B4\n"
    "DEFINE XWRHEXBL 3F2D\n",
    "DEFINE CHARACTE 7B00\n"
    "DEFINE STACK7   4661\n"
    "DEFINE DC_CH1   41B5\n"
    "DEFINE XWRREPEN 3F2E\n",
    "DEFINE INBUF    4000\n"
    "DEFINE STACK4   4661\n"
    "DEFINE DC_CP2   41B6\n"
    "DEFINE XASCBINA 3F2F\n",
    "DEFINE OUTBUF   4080\n"
    "DEFINE CLREND   4799\n"
    "DEFINE DC_CH2   41B7\n"
    "DEFINE XASCBIN1 3F30\n",
    "DEFINE R0       4140\n"
    "DEFINE NONCLR   4799\n"
    "DEFINE LEGAL    41B8\n"
    "DEFINE XASCBIN2 3F31\n",
    "DEFINE R0H      4140\n"
    "DEFINE HALTED   4799\n"
    "DEFINE MESBUF   41FC\n"
    "DEFINE XASCBIN4 3F32\n",
    "DEFINE R0L      4141\n"
    "DEFINE HALT_C   479A\n"
    "DEFINE NETTIMER 428E\n"
    "DEFINE XWRACK   3F33\n",
    "DEFINE R1       4142\n"
    "DEFINE HALT_D   479B\n"
    "DEFINE GRABLINE 4290\n"
    "DEFINE XWRSTR   3F34\n",
    "DEFINE R1H      4142\n"
    "DEFINE HALT_X   479D\n"
    "DEFINE GOTTOKEN 4291\n"
    "DEFINE XWRSTR2  3F35\n",
    "DEFINE R1L      4143\n"
    "DEFINE HALT_S   479F\n"
    "DEFINE ONLINE   4292\n"
    "DEFINE XWRSTXAL 3F36\n",
    "DEFINE R2       4144\n"
    "DEFINE HALT_STK 47A1\n"
    "DEFINE READBACK 4295\n"
    "DEFINE XCALLREZ 3F37\n",
    "DEFINE R2H      4144\n"
    "DEFINE HALT_TIM 47C1\n"
    "DEFINE DESTCM   4299\n"
    "DEFINE XJMPLIST 3F3A\n",
    "DEFINE R2L      4145\n"
    "DEFINE HALT_DAT 47C3\n"
    "DEFINE RTC_Y1   42A1\n"
    "DEFINE XVTSCHED 3F3B\n",
    "DEFINE R3       4146\n"
    "DEFINE INITACT  47C5\n"
    "DEFINE RTC_MO1  42A3\n"
    "DEFINE XCLOCKWR 3F3C\n",
    "DEFINE R3H      4146\n"
    "DEFINE MYADDR   47C6\n"
    "DEFINE STROFF   42B6\n"
    "DEFINE XWRSTRO  3F3D\n",
    "DEFINE R3L      4147\n"
    "DEFINE MYTYPE   47C7\n"
    "DEFINE NORP     42BC\n"
    "DEFINE XWRSTRO2 3F3E\n",
    "DEFINE R4       4148\n"
    "DEFINE INITCNT  47C8\n"
    "DEFINE NORPCP   42BD\n"
    "DEFINE XGETOUTS 3F3F\n",
    "DEFINE R4H      4148\n"
    "DEFINE INIT_TIM 47C9\n"
    "DEFINE PERMIT   42BE\n"
    "DEFINE XGETINST 3F40\n",
    "DEFINE R4L      4149\n"
    "DEFINE INIT_DAT 47CB\n"
    "DEFINE STOP     42BF\n"
    "DEFINE XGETAIST 3F41\n",
    "DEFINE R5       414A\n"
    "DEFINE IBZ      47CD\n"
    "DEFINE HOLD     42C0\n"
    "DEFINE XSCHED   3F42\n",
    "DEFINE R5H      414A\n"
    "DEFINE BADEE    47CE\n"
    "DEFINE SUSPEND  42C1\n"
    "DEFINE XFINDMOD 3F43\n",
    "DEFINE R5L      414B\n"
    "DEFINE L5INIT   47CF\n"
    "DEFINE STOP_TIM 42C2\n"
    "DEFINE XRDACK   3F44\n",
    "DEFINE R6       414C\n"
    "DEFINE WDT_STK  47D0\n"
    "DEFINE STOP_DAT 42C4\n"
    "DEFINE XRDACKAL 3F45\n",
    "DEFINE R6H      414C\n"
    "DEFINE XRAMOK   47F0\n"
    "DEFINE ALA0     42CD\n"
    "DEFINE XWRSTREP 3F46\n",
    "DEFINE R6L      414D\n"
    "DEFINE LASTEEWR 47F1\n"
    "DEFINE NEWALA0  42D0\n"
    "DEFINE XWRNAK   3F47\n",
    "DEFINE R7       414E\n"
    "DEFINE NONCLREN 47F3\n"
    "DEFINE L5_CP    42D2\n"
    "DEFINE XWREOT   3F48\n",
    "DEFINE R7H      414E\n"
    "DEFINE BITS     C236\n"
    "DEFINE L5_HEADE 42D3\n"
    "DEFINE XWRLAST  3F49\n",
    "DEFINE R7L      414F\n"
    "DEFINE DOWNBUF  7C00\n"
    "DEFINE L5_RAM   42D5\n"
    "DEFINE XWRBIGBL 3F4B\n",
    "DEFINE R00      4150\n"
    "DEFINE UPBUF    7B80\n"
    "DEFINE L5_PAR   42D7\n"
    "DEFINE XWRHEX1  3F4C\n",
    "DEFINE R11      4152\n"
    "DEFINE LEFTBUF  7B00\n"
    "DEFINE OATIMER  42E1\n"
    "DEFINE XCP0MES  3F4D\n",
    "DEFINE R22      4154\n"
    "DEFINE RIGHTBUF 7A80\n"
    "DEFINE WSBRKEN  42F7\n"
    "DEFINE XUNPACKD 3F4E\n",
    "DEFINE R33      4156\n"
    "DEFINE XBRKPNT  3F00\n"
    "DEFINE STACK5   4376\n"
    "DEFINE XUNPACKT 3F4F\n",
    "DEFINE RS0      4158\n"
    "DEFINE XDELAY   3F01\n"
    "DEFINE DOUTS    4377\n"
    "DEFINE XCP0TOK  3F50\n",
    "DEFINE RS1      415C\n"
    "DEFINE XWAKEUP  3F02\n"
    "DEFINE DINS     4378\n"
    "DEFINE XTR_CONF 3F53\n",
    "DEFINE RS2      4160\n"
    "DEFINE XSLEEP   3F03\n"
    "DEFINE AINS     4379\n"
    "DEFINE XTR_SAMP 3F54\n",
    "DEFINE RS3      4164\n"
    "DEFINE XRESTART 3F04\n"
    "DEFINE AOUTS    4389\n"
    "DEFINE XTR_DUMP 3F55\n",
    "DEFINE STACKS   4168\n"
    "DEFINE XACIAIN  3F05\n"
    "DEFINE RTDOMINS 4399\n"
    "DEFINE XL6INIT  3F56\n",
    "DEFINE XEQ      417A\n"
    "DEFINE XRESET   3F07\n"
    "DEFINE RTDIMINS 43A1\n"
    "DEFINE XL6START 3F57\n",
    "DEFINE HIPRI    417C\n"
    "DEFINE XHALT    3F08\n"
    "DEFINE PULSES   43AD\n"
    "DEFINE XINPULSE 3F58\n",
    "DEFINE WDT      4186\n"
    "DEFINE XMOVEB   3F09\n"
    "DEFINE DVASIGN  43B2\n"
    "DEFINE XCKSUMEE 3F59\n",
    "DEFINE MINWDT   4188\n"
    "DEFINE XMOVEW   3F0A\n"
    "DEFINE DOFIG    43BA\n"
    "DEFINE XDOREQ   3F5A\n",
    "DEFINE MINXEQ   4189\n"
    "DEFINE XSETHI   3F0B\n"
    "DEFINE DIFIG    43FA\n"
    "DEFINE XWRSTRO1 3F5B\n",
    "DEFINE MIN_DAY  418A\n"
    "DEFINE XRESTORE 3F0C\n"
    "DEFINE AIFIG    440A\n"
    "DEFINE XWRSTR1  3F5C\n",
    "DEFINE MIN_WEK  418C\n"
    "DEFINE XREADTIM 3F18\n"
    "DEFINE AOFIG    442A\n"
    "DEFINE XTR_NORM 3F5D\n",
    "DEFINE DATE     418E\n"
    "DEFINE XTIMER   3F19\n"
    "DEFINE OUTSENSE 444A\n"
    "DEFINE XRUNTIME 3F5E\n",
    "DEFINE MINUTES  4190\n"
    "DEFINE XRDBUF   3F1A\n"
    "DEFINE INSENSE  444B\n"
    "DEFINE XSETSUME 3F5F\n",
    "DEFINE HR       4191\n"
    "DEFINE XWRBUF   3F1B\n"
    "DEFINE DOUTREQ  4451\n"
    "DEFINE XGETPULS 3F60\n",
    "DEFINE DOW      4192\n"
    "DEFINE XDEVCON  3F1C\n"
    "DEFINE DIGOUT   4452\n"
    "DEFINE XDOUTPUT 3F61\n",
    "DEFINE DAY      4193\n"
    "DEFINE XSCI.PUT 3F1D\n"
    "DEFINE MUXPOINT 4465\n"
    "DEFINE XDINPUT  3F62\n",
    "DEFINE MONTH    4194\n"
    "DEFINE XDIVIDE  3F1E\n"
    "DEFINE HOASTAT  446A\n"
    "DEFINE XAOUTPUT 3F63\n",
    "DEFINE YEAR     4195\n"
    "DEFINE XACIA_RD 3F1F\n"
    "DEFINE STACK6   44A6\n"
    "DEFINE XAINPUT  3F64\n",
    "DEFINE SEC_REL  4196\n"
    "DEFINE XACIA_WR 3F20\n"
    "DEFINE SC_NEARE 44A7\n"
    "DEFINE XSMUL12. 3F65\n",
    "DEFINE SEC_PUP  4198\n"
    "DEFINE XCLOCKRD 3F21\n"
    "DEFINE SC_NEXT  44A9\n"
    "DEFINE XBIVAR   3F66\n",
    "DEFINE SECOND   4199\n"
    "DEFINE XWRCHR   3F22\n"
    "DEFINE SC_NEXD  44AB\n"
    "DEFINE XHOLD2   3F73\n",
    "DEFINE MS16.67  419A\n"
    "DEFINE XWRCHR1  3F23\n"
    "DEFINE SC_ONOFF 44AD\n"
    "DEFINE XRELEASE 3F74\n",
    "DEFINE MS16_67  419A\n"
    "DEFINE XWRCHR2  3F24\n"
    "DEFINE SC_TIME  44AE\n"
    "DEFINE XGETAOST 3F75\n",
    "DEFINE BADEP1   419F\n"
    "DEFINE XWRSTX   3F25\n"
    "DEFINE SC_DATE  44B0\n"
    "DEFINE XMULTIPL 3F76\n",
    "DEFINE BADRP    41A0\n"
    "DEFINE XWRSTXGC 3F26\n"
    "DEFINE L2_CP    44C9\n"
    "DEFINE XSMULTIP 3F77\n",
    "DEFINE BADCLK   41A1\n"
    "DEFINE XWRHEXW  3F27\n"
    "DEFINE L2_HEADE 44CA\n"
    "DEFINE XSDIVIDE 3F78\n",
    "DEFINE OATEMP   41A2\n"
    "DEFINE XWRHEX2  3F28\n"
    "DEFINE L2_RAM   44CC\n"
    "DEFINE XSDIV321 3F79\n",
    "DEFINE OANLP    41A4\n"
    "DEFINE XWRHEXB  3F29\n"
    "DEFINE L2_PAR   44CE\n"
    "DEFINE XDIV3216 3F7A\n",
    "DEFINE XNEG32AT 3F7C\n"
    "DEFINE XSETAOUT 3F7D\n"
    "DEFINE L2_SCH   44D0\n"
    "DEFINE XSADD321 3F7B\n",

};

}  // namespace

const MemoryMapRow* MemoryMapTable() { return kMemoryMap; }

const DriverTableRow* DriverTable() { return kDriverTable; }

const DriverInfo& DefaultDriverInfo() { return kDefaultDriverInfo; }

const char* ExecTypeName(int execType) {
  if (execType < 0 || execType > 7) return kExecTypeNames[0];
  return kExecTypeNames[execType];
}

const char* GetModuleTypeName(int type) {
  int low = type & 0xFF;
  if (low >= 129 && low <= 142) return kExpansionIoName;
  if (low == 128) return kExpansionMasterName;
  if (low >= kModuleTypeNameCount) return kUnrecognizedName;
  return kModuleTypeNames[low];
}

const char* const* Exec3Constants() { return kExec3ConstantTable; }

}  // namespace varnel
