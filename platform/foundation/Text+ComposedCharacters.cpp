#include "platform/foundation/Text.h"

#include <algorithm>
#include <iterator>

// Composed character sequences follow the extended grapheme cluster rules (GB3-GB13). The property
// table below is generated from the Unicode 15.0 data files (GraphemeBreakProperty.txt, and
// Extended_Pictographic from emoji-data.txt); Hangul LV/LVT syllables and CR/LF are computed in code.

namespace platform::text {

namespace {

enum Property : uint8_t {
    Other,
    CR,
    LF,
    Control,
    Extend,
    ZWJ,
    RegionalIndicator,
    Prepend,
    SpacingMark,
    L,
    V,
    T,
    LV,
    LVT,
    ExtendedPictographic,
};

struct PropertyRange {
    char32_t first;
    char32_t last;
    Property property;
};

// clang-format off
constexpr PropertyRange propertyTable[] = {
    {0x0, 0x9, Control}, {0xB, 0xC, Control}, {0xE, 0x1F, Control}, {0x7F, 0x9F, Control},
    {0xA9, 0xA9, ExtendedPictographic}, {0xAD, 0xAD, Control}, {0xAE, 0xAE, ExtendedPictographic},
    {0x300, 0x36F, Extend}, {0x483, 0x489, Extend}, {0x591, 0x5BD, Extend}, {0x5BF, 0x5BF, Extend},
    {0x5C1, 0x5C2, Extend}, {0x5C4, 0x5C5, Extend}, {0x5C7, 0x5C7, Extend}, {0x600, 0x605, Prepend},
    {0x610, 0x61A, Extend}, {0x61C, 0x61C, Control}, {0x64B, 0x65F, Extend}, {0x670, 0x670, Extend},
    {0x6D6, 0x6DC, Extend}, {0x6DD, 0x6DD, Prepend}, {0x6DF, 0x6E4, Extend}, {0x6E7, 0x6E8, Extend},
    {0x6EA, 0x6ED, Extend}, {0x70F, 0x70F, Prepend}, {0x711, 0x711, Extend}, {0x730, 0x74A, Extend},
    {0x7A6, 0x7B0, Extend}, {0x7EB, 0x7F3, Extend}, {0x7FD, 0x7FD, Extend}, {0x816, 0x819, Extend},
    {0x81B, 0x823, Extend}, {0x825, 0x827, Extend}, {0x829, 0x82D, Extend}, {0x859, 0x85B, Extend},
    {0x890, 0x891, Prepend}, {0x898, 0x89F, Extend}, {0x8CA, 0x8E1, Extend}, {0x8E2, 0x8E2, Prepend},
    {0x8E3, 0x902, Extend}, {0x903, 0x903, SpacingMark}, {0x93A, 0x93A, Extend}, {0x93B, 0x93B, SpacingMark},
    {0x93C, 0x93C, Extend}, {0x93E, 0x940, SpacingMark}, {0x941, 0x948, Extend}, {0x949, 0x94C, SpacingMark},
    {0x94D, 0x94D, Extend}, {0x94E, 0x94F, SpacingMark}, {0x951, 0x957, Extend}, {0x962, 0x963, Extend},
    {0x981, 0x981, Extend}, {0x982, 0x983, SpacingMark}, {0x9BC, 0x9BC, Extend}, {0x9BE, 0x9BE, Extend},
    {0x9BF, 0x9C0, SpacingMark}, {0x9C1, 0x9C4, Extend}, {0x9C7, 0x9C8, SpacingMark},
    {0x9CB, 0x9CC, SpacingMark}, {0x9CD, 0x9CD, Extend}, {0x9D7, 0x9D7, Extend}, {0x9E2, 0x9E3, Extend},
    {0x9FE, 0x9FE, Extend}, {0xA01, 0xA02, Extend}, {0xA03, 0xA03, SpacingMark}, {0xA3C, 0xA3C, Extend},
    {0xA3E, 0xA40, SpacingMark}, {0xA41, 0xA42, Extend}, {0xA47, 0xA48, Extend}, {0xA4B, 0xA4D, Extend},
    {0xA51, 0xA51, Extend}, {0xA70, 0xA71, Extend}, {0xA75, 0xA75, Extend}, {0xA81, 0xA82, Extend},
    {0xA83, 0xA83, SpacingMark}, {0xABC, 0xABC, Extend}, {0xABE, 0xAC0, SpacingMark}, {0xAC1, 0xAC5, Extend},
    {0xAC7, 0xAC8, Extend}, {0xAC9, 0xAC9, SpacingMark}, {0xACB, 0xACC, SpacingMark}, {0xACD, 0xACD, Extend},
    {0xAE2, 0xAE3, Extend}, {0xAFA, 0xAFF, Extend}, {0xB01, 0xB01, Extend}, {0xB02, 0xB03, SpacingMark},
    {0xB3C, 0xB3C, Extend}, {0xB3E, 0xB3F, Extend}, {0xB40, 0xB40, SpacingMark}, {0xB41, 0xB44, Extend},
    {0xB47, 0xB48, SpacingMark}, {0xB4B, 0xB4C, SpacingMark}, {0xB4D, 0xB4D, Extend}, {0xB55, 0xB57, Extend},
    {0xB62, 0xB63, Extend}, {0xB82, 0xB82, Extend}, {0xBBE, 0xBBE, Extend}, {0xBBF, 0xBBF, SpacingMark},
    {0xBC0, 0xBC0, Extend}, {0xBC1, 0xBC2, SpacingMark}, {0xBC6, 0xBC8, SpacingMark},
    {0xBCA, 0xBCC, SpacingMark}, {0xBCD, 0xBCD, Extend}, {0xBD7, 0xBD7, Extend}, {0xC00, 0xC00, Extend},
    {0xC01, 0xC03, SpacingMark}, {0xC04, 0xC04, Extend}, {0xC3C, 0xC3C, Extend}, {0xC3E, 0xC40, Extend},
    {0xC41, 0xC44, SpacingMark}, {0xC46, 0xC48, Extend}, {0xC4A, 0xC4D, Extend}, {0xC55, 0xC56, Extend},
    {0xC62, 0xC63, Extend}, {0xC81, 0xC81, Extend}, {0xC82, 0xC83, SpacingMark}, {0xCBC, 0xCBC, Extend},
    {0xCBE, 0xCBE, SpacingMark}, {0xCBF, 0xCBF, Extend}, {0xCC0, 0xCC1, SpacingMark}, {0xCC2, 0xCC2, Extend},
    {0xCC3, 0xCC4, SpacingMark}, {0xCC6, 0xCC6, Extend}, {0xCC7, 0xCC8, SpacingMark},
    {0xCCA, 0xCCB, SpacingMark}, {0xCCC, 0xCCD, Extend}, {0xCD5, 0xCD6, Extend}, {0xCE2, 0xCE3, Extend},
    {0xCF3, 0xCF3, SpacingMark}, {0xD00, 0xD01, Extend}, {0xD02, 0xD03, SpacingMark}, {0xD3B, 0xD3C, Extend},
    {0xD3E, 0xD3E, Extend}, {0xD3F, 0xD40, SpacingMark}, {0xD41, 0xD44, Extend}, {0xD46, 0xD48, SpacingMark},
    {0xD4A, 0xD4C, SpacingMark}, {0xD4D, 0xD4D, Extend}, {0xD4E, 0xD4E, Prepend}, {0xD57, 0xD57, Extend},
    {0xD62, 0xD63, Extend}, {0xD81, 0xD81, Extend}, {0xD82, 0xD83, SpacingMark}, {0xDCA, 0xDCA, Extend},
    {0xDCF, 0xDCF, Extend}, {0xDD0, 0xDD1, SpacingMark}, {0xDD2, 0xDD4, Extend}, {0xDD6, 0xDD6, Extend},
    {0xDD8, 0xDDE, SpacingMark}, {0xDDF, 0xDDF, Extend}, {0xDF2, 0xDF3, SpacingMark}, {0xE31, 0xE31, Extend},
    {0xE33, 0xE33, SpacingMark}, {0xE34, 0xE3A, Extend}, {0xE47, 0xE4E, Extend}, {0xEB1, 0xEB1, Extend},
    {0xEB3, 0xEB3, SpacingMark}, {0xEB4, 0xEBC, Extend}, {0xEC8, 0xECE, Extend}, {0xF18, 0xF19, Extend},
    {0xF35, 0xF35, Extend}, {0xF37, 0xF37, Extend}, {0xF39, 0xF39, Extend}, {0xF3E, 0xF3F, SpacingMark},
    {0xF71, 0xF7E, Extend}, {0xF7F, 0xF7F, SpacingMark}, {0xF80, 0xF84, Extend}, {0xF86, 0xF87, Extend},
    {0xF8D, 0xF97, Extend}, {0xF99, 0xFBC, Extend}, {0xFC6, 0xFC6, Extend}, {0x102D, 0x1030, Extend},
    {0x1031, 0x1031, SpacingMark}, {0x1032, 0x1037, Extend}, {0x1039, 0x103A, Extend},
    {0x103B, 0x103C, SpacingMark}, {0x103D, 0x103E, Extend}, {0x1056, 0x1057, SpacingMark},
    {0x1058, 0x1059, Extend}, {0x105E, 0x1060, Extend}, {0x1071, 0x1074, Extend}, {0x1082, 0x1082, Extend},
    {0x1084, 0x1084, SpacingMark}, {0x1085, 0x1086, Extend}, {0x108D, 0x108D, Extend},
    {0x109D, 0x109D, Extend}, {0x1100, 0x115F, L}, {0x1160, 0x11A7, V}, {0x11A8, 0x11FF, T},
    {0x135D, 0x135F, Extend}, {0x1712, 0x1714, Extend}, {0x1715, 0x1715, SpacingMark},
    {0x1732, 0x1733, Extend}, {0x1734, 0x1734, SpacingMark}, {0x1752, 0x1753, Extend},
    {0x1772, 0x1773, Extend}, {0x17B4, 0x17B5, Extend}, {0x17B6, 0x17B6, SpacingMark},
    {0x17B7, 0x17BD, Extend}, {0x17BE, 0x17C5, SpacingMark}, {0x17C6, 0x17C6, Extend},
    {0x17C7, 0x17C8, SpacingMark}, {0x17C9, 0x17D3, Extend}, {0x17DD, 0x17DD, Extend},
    {0x180B, 0x180D, Extend}, {0x180E, 0x180E, Control}, {0x180F, 0x180F, Extend}, {0x1885, 0x1886, Extend},
    {0x18A9, 0x18A9, Extend}, {0x1920, 0x1922, Extend}, {0x1923, 0x1926, SpacingMark},
    {0x1927, 0x1928, Extend}, {0x1929, 0x192B, SpacingMark}, {0x1930, 0x1931, SpacingMark},
    {0x1932, 0x1932, Extend}, {0x1933, 0x1938, SpacingMark}, {0x1939, 0x193B, Extend},
    {0x1A17, 0x1A18, Extend}, {0x1A19, 0x1A1A, SpacingMark}, {0x1A1B, 0x1A1B, Extend},
    {0x1A55, 0x1A55, SpacingMark}, {0x1A56, 0x1A56, Extend}, {0x1A57, 0x1A57, SpacingMark},
    {0x1A58, 0x1A5E, Extend}, {0x1A60, 0x1A60, Extend}, {0x1A62, 0x1A62, Extend}, {0x1A65, 0x1A6C, Extend},
    {0x1A6D, 0x1A72, SpacingMark}, {0x1A73, 0x1A7C, Extend}, {0x1A7F, 0x1A7F, Extend},
    {0x1AB0, 0x1ACE, Extend}, {0x1B00, 0x1B03, Extend}, {0x1B04, 0x1B04, SpacingMark},
    {0x1B34, 0x1B3A, Extend}, {0x1B3B, 0x1B3B, SpacingMark}, {0x1B3C, 0x1B3C, Extend},
    {0x1B3D, 0x1B41, SpacingMark}, {0x1B42, 0x1B42, Extend}, {0x1B43, 0x1B44, SpacingMark},
    {0x1B6B, 0x1B73, Extend}, {0x1B80, 0x1B81, Extend}, {0x1B82, 0x1B82, SpacingMark},
    {0x1BA1, 0x1BA1, SpacingMark}, {0x1BA2, 0x1BA5, Extend}, {0x1BA6, 0x1BA7, SpacingMark},
    {0x1BA8, 0x1BA9, Extend}, {0x1BAA, 0x1BAA, SpacingMark}, {0x1BAB, 0x1BAD, Extend},
    {0x1BE6, 0x1BE6, Extend}, {0x1BE7, 0x1BE7, SpacingMark}, {0x1BE8, 0x1BE9, Extend},
    {0x1BEA, 0x1BEC, SpacingMark}, {0x1BED, 0x1BED, Extend}, {0x1BEE, 0x1BEE, SpacingMark},
    {0x1BEF, 0x1BF1, Extend}, {0x1BF2, 0x1BF3, SpacingMark}, {0x1C24, 0x1C2B, SpacingMark},
    {0x1C2C, 0x1C33, Extend}, {0x1C34, 0x1C35, SpacingMark}, {0x1C36, 0x1C37, Extend},
    {0x1CD0, 0x1CD2, Extend}, {0x1CD4, 0x1CE0, Extend}, {0x1CE1, 0x1CE1, SpacingMark},
    {0x1CE2, 0x1CE8, Extend}, {0x1CED, 0x1CED, Extend}, {0x1CF4, 0x1CF4, Extend},
    {0x1CF7, 0x1CF7, SpacingMark}, {0x1CF8, 0x1CF9, Extend}, {0x1DC0, 0x1DFF, Extend},
    {0x200B, 0x200B, Control}, {0x200C, 0x200C, Extend}, {0x200D, 0x200D, ZWJ}, {0x200E, 0x200F, Control},
    {0x2028, 0x202E, Control}, {0x203C, 0x203C, ExtendedPictographic},
    {0x2049, 0x2049, ExtendedPictographic}, {0x2060, 0x206F, Control}, {0x20D0, 0x20F0, Extend},
    {0x2122, 0x2122, ExtendedPictographic}, {0x2139, 0x2139, ExtendedPictographic},
    {0x2194, 0x2199, ExtendedPictographic}, {0x21A9, 0x21AA, ExtendedPictographic},
    {0x231A, 0x231B, ExtendedPictographic}, {0x2328, 0x2328, ExtendedPictographic},
    {0x2388, 0x2388, ExtendedPictographic}, {0x23CF, 0x23CF, ExtendedPictographic},
    {0x23E9, 0x23F3, ExtendedPictographic}, {0x23F8, 0x23FA, ExtendedPictographic},
    {0x24C2, 0x24C2, ExtendedPictographic}, {0x25AA, 0x25AB, ExtendedPictographic},
    {0x25B6, 0x25B6, ExtendedPictographic}, {0x25C0, 0x25C0, ExtendedPictographic},
    {0x25FB, 0x25FE, ExtendedPictographic}, {0x2600, 0x2605, ExtendedPictographic},
    {0x2607, 0x2612, ExtendedPictographic}, {0x2614, 0x2685, ExtendedPictographic},
    {0x2690, 0x2705, ExtendedPictographic}, {0x2708, 0x2712, ExtendedPictographic},
    {0x2714, 0x2714, ExtendedPictographic}, {0x2716, 0x2716, ExtendedPictographic},
    {0x271D, 0x271D, ExtendedPictographic}, {0x2721, 0x2721, ExtendedPictographic},
    {0x2728, 0x2728, ExtendedPictographic}, {0x2733, 0x2734, ExtendedPictographic},
    {0x2744, 0x2744, ExtendedPictographic}, {0x2747, 0x2747, ExtendedPictographic},
    {0x274C, 0x274C, ExtendedPictographic}, {0x274E, 0x274E, ExtendedPictographic},
    {0x2753, 0x2755, ExtendedPictographic}, {0x2757, 0x2757, ExtendedPictographic},
    {0x2763, 0x2767, ExtendedPictographic}, {0x2795, 0x2797, ExtendedPictographic},
    {0x27A1, 0x27A1, ExtendedPictographic}, {0x27B0, 0x27B0, ExtendedPictographic},
    {0x27BF, 0x27BF, ExtendedPictographic}, {0x2934, 0x2935, ExtendedPictographic},
    {0x2B05, 0x2B07, ExtendedPictographic}, {0x2B1B, 0x2B1C, ExtendedPictographic},
    {0x2B50, 0x2B50, ExtendedPictographic}, {0x2B55, 0x2B55, ExtendedPictographic}, {0x2CEF, 0x2CF1, Extend},
    {0x2D7F, 0x2D7F, Extend}, {0x2DE0, 0x2DFF, Extend}, {0x302A, 0x302F, Extend},
    {0x3030, 0x3030, ExtendedPictographic}, {0x303D, 0x303D, ExtendedPictographic}, {0x3099, 0x309A, Extend},
    {0x3297, 0x3297, ExtendedPictographic}, {0x3299, 0x3299, ExtendedPictographic}, {0xA66F, 0xA672, Extend},
    {0xA674, 0xA67D, Extend}, {0xA69E, 0xA69F, Extend}, {0xA6F0, 0xA6F1, Extend}, {0xA802, 0xA802, Extend},
    {0xA806, 0xA806, Extend}, {0xA80B, 0xA80B, Extend}, {0xA823, 0xA824, SpacingMark},
    {0xA825, 0xA826, Extend}, {0xA827, 0xA827, SpacingMark}, {0xA82C, 0xA82C, Extend},
    {0xA880, 0xA881, SpacingMark}, {0xA8B4, 0xA8C3, SpacingMark}, {0xA8C4, 0xA8C5, Extend},
    {0xA8E0, 0xA8F1, Extend}, {0xA8FF, 0xA8FF, Extend}, {0xA926, 0xA92D, Extend}, {0xA947, 0xA951, Extend},
    {0xA952, 0xA953, SpacingMark}, {0xA960, 0xA97C, L}, {0xA980, 0xA982, Extend},
    {0xA983, 0xA983, SpacingMark}, {0xA9B3, 0xA9B3, Extend}, {0xA9B4, 0xA9B5, SpacingMark},
    {0xA9B6, 0xA9B9, Extend}, {0xA9BA, 0xA9BB, SpacingMark}, {0xA9BC, 0xA9BD, Extend},
    {0xA9BE, 0xA9C0, SpacingMark}, {0xA9E5, 0xA9E5, Extend}, {0xAA29, 0xAA2E, Extend},
    {0xAA2F, 0xAA30, SpacingMark}, {0xAA31, 0xAA32, Extend}, {0xAA33, 0xAA34, SpacingMark},
    {0xAA35, 0xAA36, Extend}, {0xAA43, 0xAA43, Extend}, {0xAA4C, 0xAA4C, Extend},
    {0xAA4D, 0xAA4D, SpacingMark}, {0xAA7C, 0xAA7C, Extend}, {0xAAB0, 0xAAB0, Extend},
    {0xAAB2, 0xAAB4, Extend}, {0xAAB7, 0xAAB8, Extend}, {0xAABE, 0xAABF, Extend}, {0xAAC1, 0xAAC1, Extend},
    {0xAAEB, 0xAAEB, SpacingMark}, {0xAAEC, 0xAAED, Extend}, {0xAAEE, 0xAAEF, SpacingMark},
    {0xAAF5, 0xAAF5, SpacingMark}, {0xAAF6, 0xAAF6, Extend}, {0xABE3, 0xABE4, SpacingMark},
    {0xABE5, 0xABE5, Extend}, {0xABE6, 0xABE7, SpacingMark}, {0xABE8, 0xABE8, Extend},
    {0xABE9, 0xABEA, SpacingMark}, {0xABEC, 0xABEC, SpacingMark}, {0xABED, 0xABED, Extend},
    {0xD7B0, 0xD7C6, V}, {0xD7CB, 0xD7FB, T}, {0xFB1E, 0xFB1E, Extend}, {0xFE00, 0xFE0F, Extend},
    {0xFE20, 0xFE2F, Extend}, {0xFEFF, 0xFEFF, Control}, {0xFF9E, 0xFF9F, Extend}, {0xFFF0, 0xFFFB, Control},
    {0x101FD, 0x101FD, Extend}, {0x102E0, 0x102E0, Extend}, {0x10376, 0x1037A, Extend},
    {0x10A01, 0x10A03, Extend}, {0x10A05, 0x10A06, Extend}, {0x10A0C, 0x10A0F, Extend},
    {0x10A38, 0x10A3A, Extend}, {0x10A3F, 0x10A3F, Extend}, {0x10AE5, 0x10AE6, Extend},
    {0x10D24, 0x10D27, Extend}, {0x10EAB, 0x10EAC, Extend}, {0x10EFD, 0x10EFF, Extend},
    {0x10F46, 0x10F50, Extend}, {0x10F82, 0x10F85, Extend}, {0x11000, 0x11000, SpacingMark},
    {0x11001, 0x11001, Extend}, {0x11002, 0x11002, SpacingMark}, {0x11038, 0x11046, Extend},
    {0x11070, 0x11070, Extend}, {0x11073, 0x11074, Extend}, {0x1107F, 0x11081, Extend},
    {0x11082, 0x11082, SpacingMark}, {0x110B0, 0x110B2, SpacingMark}, {0x110B3, 0x110B6, Extend},
    {0x110B7, 0x110B8, SpacingMark}, {0x110B9, 0x110BA, Extend}, {0x110BD, 0x110BD, Prepend},
    {0x110C2, 0x110C2, Extend}, {0x110CD, 0x110CD, Prepend}, {0x11100, 0x11102, Extend},
    {0x11127, 0x1112B, Extend}, {0x1112C, 0x1112C, SpacingMark}, {0x1112D, 0x11134, Extend},
    {0x11145, 0x11146, SpacingMark}, {0x11173, 0x11173, Extend}, {0x11180, 0x11181, Extend},
    {0x11182, 0x11182, SpacingMark}, {0x111B3, 0x111B5, SpacingMark}, {0x111B6, 0x111BE, Extend},
    {0x111BF, 0x111C0, SpacingMark}, {0x111C2, 0x111C3, Prepend}, {0x111C9, 0x111CC, Extend},
    {0x111CE, 0x111CE, SpacingMark}, {0x111CF, 0x111CF, Extend}, {0x1122C, 0x1122E, SpacingMark},
    {0x1122F, 0x11231, Extend}, {0x11232, 0x11233, SpacingMark}, {0x11234, 0x11234, Extend},
    {0x11235, 0x11235, SpacingMark}, {0x11236, 0x11237, Extend}, {0x1123E, 0x1123E, Extend},
    {0x11241, 0x11241, Extend}, {0x112DF, 0x112DF, Extend}, {0x112E0, 0x112E2, SpacingMark},
    {0x112E3, 0x112EA, Extend}, {0x11300, 0x11301, Extend}, {0x11302, 0x11303, SpacingMark},
    {0x1133B, 0x1133C, Extend}, {0x1133E, 0x1133E, Extend}, {0x1133F, 0x1133F, SpacingMark},
    {0x11340, 0x11340, Extend}, {0x11341, 0x11344, SpacingMark}, {0x11347, 0x11348, SpacingMark},
    {0x1134B, 0x1134D, SpacingMark}, {0x11357, 0x11357, Extend}, {0x11362, 0x11363, SpacingMark},
    {0x11366, 0x1136C, Extend}, {0x11370, 0x11374, Extend}, {0x11435, 0x11437, SpacingMark},
    {0x11438, 0x1143F, Extend}, {0x11440, 0x11441, SpacingMark}, {0x11442, 0x11444, Extend},
    {0x11445, 0x11445, SpacingMark}, {0x11446, 0x11446, Extend}, {0x1145E, 0x1145E, Extend},
    {0x114B0, 0x114B0, Extend}, {0x114B1, 0x114B2, SpacingMark}, {0x114B3, 0x114B8, Extend},
    {0x114B9, 0x114B9, SpacingMark}, {0x114BA, 0x114BA, Extend}, {0x114BB, 0x114BC, SpacingMark},
    {0x114BD, 0x114BD, Extend}, {0x114BE, 0x114BE, SpacingMark}, {0x114BF, 0x114C0, Extend},
    {0x114C1, 0x114C1, SpacingMark}, {0x114C2, 0x114C3, Extend}, {0x115AF, 0x115AF, Extend},
    {0x115B0, 0x115B1, SpacingMark}, {0x115B2, 0x115B5, Extend}, {0x115B8, 0x115BB, SpacingMark},
    {0x115BC, 0x115BD, Extend}, {0x115BE, 0x115BE, SpacingMark}, {0x115BF, 0x115C0, Extend},
    {0x115DC, 0x115DD, Extend}, {0x11630, 0x11632, SpacingMark}, {0x11633, 0x1163A, Extend},
    {0x1163B, 0x1163C, SpacingMark}, {0x1163D, 0x1163D, Extend}, {0x1163E, 0x1163E, SpacingMark},
    {0x1163F, 0x11640, Extend}, {0x116AB, 0x116AB, Extend}, {0x116AC, 0x116AC, SpacingMark},
    {0x116AD, 0x116AD, Extend}, {0x116AE, 0x116AF, SpacingMark}, {0x116B0, 0x116B5, Extend},
    {0x116B6, 0x116B6, SpacingMark}, {0x116B7, 0x116B7, Extend}, {0x1171D, 0x1171F, Extend},
    {0x11722, 0x11725, Extend}, {0x11726, 0x11726, SpacingMark}, {0x11727, 0x1172B, Extend},
    {0x1182C, 0x1182E, SpacingMark}, {0x1182F, 0x11837, Extend}, {0x11838, 0x11838, SpacingMark},
    {0x11839, 0x1183A, Extend}, {0x11930, 0x11930, Extend}, {0x11931, 0x11935, SpacingMark},
    {0x11937, 0x11938, SpacingMark}, {0x1193B, 0x1193C, Extend}, {0x1193D, 0x1193D, SpacingMark},
    {0x1193E, 0x1193E, Extend}, {0x1193F, 0x1193F, Prepend}, {0x11940, 0x11940, SpacingMark},
    {0x11941, 0x11941, Prepend}, {0x11942, 0x11942, SpacingMark}, {0x11943, 0x11943, Extend},
    {0x119D1, 0x119D3, SpacingMark}, {0x119D4, 0x119D7, Extend}, {0x119DA, 0x119DB, Extend},
    {0x119DC, 0x119DF, SpacingMark}, {0x119E0, 0x119E0, Extend}, {0x119E4, 0x119E4, SpacingMark},
    {0x11A01, 0x11A0A, Extend}, {0x11A33, 0x11A38, Extend}, {0x11A39, 0x11A39, SpacingMark},
    {0x11A3A, 0x11A3A, Prepend}, {0x11A3B, 0x11A3E, Extend}, {0x11A47, 0x11A47, Extend},
    {0x11A51, 0x11A56, Extend}, {0x11A57, 0x11A58, SpacingMark}, {0x11A59, 0x11A5B, Extend},
    {0x11A84, 0x11A89, Prepend}, {0x11A8A, 0x11A96, Extend}, {0x11A97, 0x11A97, SpacingMark},
    {0x11A98, 0x11A99, Extend}, {0x11C2F, 0x11C2F, SpacingMark}, {0x11C30, 0x11C36, Extend},
    {0x11C38, 0x11C3D, Extend}, {0x11C3E, 0x11C3E, SpacingMark}, {0x11C3F, 0x11C3F, Extend},
    {0x11C92, 0x11CA7, Extend}, {0x11CA9, 0x11CA9, SpacingMark}, {0x11CAA, 0x11CB0, Extend},
    {0x11CB1, 0x11CB1, SpacingMark}, {0x11CB2, 0x11CB3, Extend}, {0x11CB4, 0x11CB4, SpacingMark},
    {0x11CB5, 0x11CB6, Extend}, {0x11D31, 0x11D36, Extend}, {0x11D3A, 0x11D3A, Extend},
    {0x11D3C, 0x11D3D, Extend}, {0x11D3F, 0x11D45, Extend}, {0x11D46, 0x11D46, Prepend},
    {0x11D47, 0x11D47, Extend}, {0x11D8A, 0x11D8E, SpacingMark}, {0x11D90, 0x11D91, Extend},
    {0x11D93, 0x11D94, SpacingMark}, {0x11D95, 0x11D95, Extend}, {0x11D96, 0x11D96, SpacingMark},
    {0x11D97, 0x11D97, Extend}, {0x11EF3, 0x11EF4, Extend}, {0x11EF5, 0x11EF6, SpacingMark},
    {0x11F00, 0x11F01, Extend}, {0x11F02, 0x11F02, Prepend}, {0x11F03, 0x11F03, SpacingMark},
    {0x11F34, 0x11F35, SpacingMark}, {0x11F36, 0x11F3A, Extend}, {0x11F3E, 0x11F3F, SpacingMark},
    {0x11F40, 0x11F40, Extend}, {0x11F41, 0x11F41, SpacingMark}, {0x11F42, 0x11F42, Extend},
    {0x13430, 0x1343F, Control}, {0x13440, 0x13440, Extend}, {0x13447, 0x13455, Extend},
    {0x16AF0, 0x16AF4, Extend}, {0x16B30, 0x16B36, Extend}, {0x16F4F, 0x16F4F, Extend},
    {0x16F51, 0x16F87, SpacingMark}, {0x16F8F, 0x16F92, Extend}, {0x16FE4, 0x16FE4, Extend},
    {0x16FF0, 0x16FF1, SpacingMark}, {0x1BC9D, 0x1BC9E, Extend}, {0x1BCA0, 0x1BCA3, Control},
    {0x1CF00, 0x1CF2D, Extend}, {0x1CF30, 0x1CF46, Extend}, {0x1D165, 0x1D165, Extend},
    {0x1D166, 0x1D166, SpacingMark}, {0x1D167, 0x1D169, Extend}, {0x1D16D, 0x1D16D, SpacingMark},
    {0x1D16E, 0x1D172, Extend}, {0x1D173, 0x1D17A, Control}, {0x1D17B, 0x1D182, Extend},
    {0x1D185, 0x1D18B, Extend}, {0x1D1AA, 0x1D1AD, Extend}, {0x1D242, 0x1D244, Extend},
    {0x1DA00, 0x1DA36, Extend}, {0x1DA3B, 0x1DA6C, Extend}, {0x1DA75, 0x1DA75, Extend},
    {0x1DA84, 0x1DA84, Extend}, {0x1DA9B, 0x1DA9F, Extend}, {0x1DAA1, 0x1DAAF, Extend},
    {0x1E000, 0x1E006, Extend}, {0x1E008, 0x1E018, Extend}, {0x1E01B, 0x1E021, Extend},
    {0x1E023, 0x1E024, Extend}, {0x1E026, 0x1E02A, Extend}, {0x1E08F, 0x1E08F, Extend},
    {0x1E130, 0x1E136, Extend}, {0x1E2AE, 0x1E2AE, Extend}, {0x1E2EC, 0x1E2EF, Extend},
    {0x1E4EC, 0x1E4EF, Extend}, {0x1E8D0, 0x1E8D6, Extend}, {0x1E944, 0x1E94A, Extend},
    {0x1F000, 0x1F0FF, ExtendedPictographic}, {0x1F10D, 0x1F10F, ExtendedPictographic},
    {0x1F12F, 0x1F12F, ExtendedPictographic}, {0x1F16C, 0x1F171, ExtendedPictographic},
    {0x1F17E, 0x1F17F, ExtendedPictographic}, {0x1F18E, 0x1F18E, ExtendedPictographic},
    {0x1F191, 0x1F19A, ExtendedPictographic}, {0x1F1AD, 0x1F1E5, ExtendedPictographic},
    {0x1F1E6, 0x1F1FF, RegionalIndicator}, {0x1F201, 0x1F20F, ExtendedPictographic},
    {0x1F21A, 0x1F21A, ExtendedPictographic}, {0x1F22F, 0x1F22F, ExtendedPictographic},
    {0x1F232, 0x1F23A, ExtendedPictographic}, {0x1F23C, 0x1F23F, ExtendedPictographic},
    {0x1F249, 0x1F3FA, ExtendedPictographic}, {0x1F3FB, 0x1F3FF, Extend},
    {0x1F400, 0x1F53D, ExtendedPictographic}, {0x1F546, 0x1F64F, ExtendedPictographic},
    {0x1F680, 0x1F6FF, ExtendedPictographic}, {0x1F774, 0x1F77F, ExtendedPictographic},
    {0x1F7D5, 0x1F7FF, ExtendedPictographic}, {0x1F80C, 0x1F80F, ExtendedPictographic},
    {0x1F848, 0x1F84F, ExtendedPictographic}, {0x1F85A, 0x1F85F, ExtendedPictographic},
    {0x1F888, 0x1F88F, ExtendedPictographic}, {0x1F8AE, 0x1F8FF, ExtendedPictographic},
    {0x1F90C, 0x1F93A, ExtendedPictographic}, {0x1F93C, 0x1F945, ExtendedPictographic},
    {0x1F947, 0x1FAFF, ExtendedPictographic}, {0x1FC00, 0x1FFFD, ExtendedPictographic},
    {0xE0000, 0xE001F, Control}, {0xE0020, 0xE007F, Extend}, {0xE0080, 0xE00FF, Control},
    {0xE0100, 0xE01EF, Extend}, {0xE01F0, 0xE0FFF, Control},
};
// clang-format on

Property propertyOf(char32_t c) {
    if (c < 0x7F) {
        if (c == '\r')
            return CR;
        if (c == '\n')
            return LF;
        return c < 0x20 ? Control : Other;
    }
    if (c >= 0xAC00 && c <= 0xD7A3)
        return (c - 0xAC00) % 28 == 0 ? LV : LVT;
    auto it = std::upper_bound(std::begin(propertyTable), std::end(propertyTable), c,
                               [](char32_t v, const PropertyRange& r) { return v < r.first; });
    if (it == std::begin(propertyTable))
        return Other;
    --it;
    return c <= it->last ? it->property : Other;
}

// What the rules must remember of the cluster so far.
struct ClusterState {
    unsigned regionalIndicators{0}; // in a row, ending at the previous code point
    bool pictographic{false};       // ExtendedPictographic Extend* just seen
    bool pictographicZWJ{false};    // ExtendedPictographic Extend* ZWJ just seen

    void advance(Property p) {
        regionalIndicators = p == RegionalIndicator ? regionalIndicators + 1 : 0;
        if (p == ExtendedPictographic) {
            pictographic = true;
            pictographicZWJ = false;
        } else if (p == Extend && pictographic) {
        } else if (p == ZWJ && pictographic) {
            pictographic = false;
            pictographicZWJ = true;
        } else {
            pictographic = false;
            pictographicZWJ = false;
        }
    }
};

bool joins(Property previous, Property current, const ClusterState& state) {
    if (previous == CR && current == LF)
        return true;
    if (previous == Control || previous == CR || previous == LF)
        return false;
    if (current == Control || current == CR || current == LF)
        return false;
    if (previous == L && (current == L || current == V || current == LV || current == LVT))
        return true;
    if ((previous == LV || previous == V) && (current == V || current == T))
        return true;
    if ((previous == LVT || previous == T) && current == T)
        return true;
    if (current == Extend || current == ZWJ || current == SpacingMark || previous == Prepend)
        return true;
    if (previous == ZWJ && current == ExtendedPictographic && state.pictographicZWJ)
        return true;
    if (previous == RegionalIndicator && current == RegionalIndicator)
        return state.regionalIndicators % 2 == 1;
    return false;
}

// Calls visit(byteOffset, byteLength, utf16Location, utf16Length) for each composed character in
// order until it returns false.
template <typename Visitor> void forEachComposedCharacter(std::string_view text, Visitor visit) {
    uint64_t units = 0;
    for (size_t start = 0; start < text.size();) {
        auto d = decodeUTF8(text, start);
        Property previous = propertyOf(d.codePoint);
        ClusterState state;
        state.advance(previous);
        uint64_t clusterUnits = d.codePoint >= 0x10000 ? 2 : 1;
        size_t i = start + d.length;
        while (i < text.size()) {
            d = decodeUTF8(text, i);
            Property current = propertyOf(d.codePoint);
            if (!joins(previous, current, state))
                break;
            state.advance(current);
            previous = current;
            clusterUnits += d.codePoint >= 0x10000 ? 2 : 1;
            i += d.length;
        }
        if (!visit(start, i - start, units, clusterUnits))
            return;
        units += clusterUnits;
        start = i;
    }
}

} // namespace

std::vector<ComposedCharacter> composedCharacters(std::string_view text) {
    std::vector<ComposedCharacter> characters;
    forEachComposedCharacter(text, [&](size_t offset, size_t length, uint64_t location, uint64_t units) {
        characters.push_back({offset, length, {location, units}});
        return true;
    });
    return characters;
}

size_t composedCharacterCount(std::string_view text) {
    size_t count = 0;
    forEachComposedCharacter(text, [&](size_t, size_t, uint64_t, uint64_t) {
        ++count;
        return true;
    });
    return count;
}

size_t nextComposedCharacterBoundary(std::string_view text, size_t byteOffset) {
    if (byteOffset >= text.size())
        return text.size();
    size_t end = text.size();
    forEachComposedCharacter(text.substr(byteOffset), [&](size_t, size_t length, uint64_t, uint64_t) {
        end = byteOffset + length;
        return false;
    });
    return end;
}

Range rangeOfComposedCharacterSequenceAtIndex(std::string_view text, uint64_t index) {
    Range found;
    forEachComposedCharacter(text, [&](size_t, size_t, uint64_t location, uint64_t units) {
        if (index < location + units) {
            found = {location, units};
            return false;
        }
        return true;
    });
    return found;
}

Range rangeOfComposedCharacterSequencesForRange(std::string_view text, Range range) {
    uint64_t end = range.length > UINT64_MAX - range.location ? UINT64_MAX : range.location + range.length;
    std::optional<uint64_t> begin;
    uint64_t last = 0;
    forEachComposedCharacter(text, [&](size_t, size_t, uint64_t location, uint64_t units) {
        if (!begin && range.location < location + units)
            begin = location;
        if (begin && (location < end || location == *begin))
            last = location + units;
        return location + units < end || !begin;
    });
    if (!begin) {
        uint64_t length = utf16Length(text);
        return {length, 0};
    }
    return {*begin, last - *begin};
}

std::string prefixOfComposedCharacters(std::string_view text, uint64_t maxUTF16Length) {
    size_t bytes = 0;
    forEachComposedCharacter(text, [&](size_t offset, size_t length, uint64_t location, uint64_t units) {
        if (location + units > maxUTF16Length)
            return false;
        bytes = offset + length;
        return true;
    });
    return std::string(text.substr(0, bytes));
}

} // namespace platform::text
