// The locale table. The abbreviations are those Windows gives for LOCALE_SABBREVLANGNAME
// (including "ZZZ" for the languages it has no abbreviation of its own for).
#include "locale/locale_table.h"

#include <algorithm>
#include <array>

namespace tavix::locale {

namespace {

constexpr LocaleEntry kLocales[] = {
    {0x007F, "IVL", ""},
    {0x0401, "ARA", "ar_SA"},
    {0x0402, "BGR", "bg_BG"},
    {0x0403, "CAT", "ca_ES"},
    {0x0404, "CHT", "zh_TW"},
    {0x0405, "CSY", "cs_CZ"},
    {0x0406, "DAN", "da_DK"},
    {0x0407, "DEU", "de_DE"},
    {0x0408, "ELL", "el_GR"},
    {0x0409, "ENU", "en_US"},
    {0x040A, "ESP", ""},
    {0x040B, "FIN", "fi_FI"},
    {0x040C, "FRA", "fr_FR"},
    {0x040D, "HEB", "he_IL"},
    {0x040E, "HUN", "hu_HU"},
    {0x040F, "ISL", "is_IS"},
    {0x0410, "ITA", "it_IT"},
    {0x0411, "JPN", "ja_JP"},
    {0x0412, "KOR", "ko_KR"},
    {0x0413, "NLD", "nl_NL"},
    {0x0414, "NOR", "nb_NO"},
    {0x0415, "PLK", "pl_PL"},
    {0x0416, "PTB", "pt_BR"},
    {0x0417, "RMC", "rm_CH"},
    {0x0418, "ROM", "ro_RO"},
    {0x0419, "RUS", "ru_RU"},
    {0x041A, "HRV", "hr_HR"},
    {0x041B, "SKY", "sk_SK"},
    {0x041C, "SQI", "sq_AL"},
    {0x041D, "SVE", "sv_SE"},
    {0x041E, "THA", "th_TH"},
    {0x041F, "TRK", "tr_TR"},
    {0x0420, "URD", "ur_PK"},
    {0x0421, "IND", "id_ID"},
    {0x0422, "UKR", "uk_UA"},
    {0x0423, "BEL", "be_BY"},
    {0x0424, "SLV", "sl_SI"},
    {0x0425, "ETI", "et_EE"},
    {0x0426, "LVI", "lv_LV"},
    {0x0427, "LTH", "lt_LT"},
    {0x0428, "TAJ", "tg_TJ"},
    {0x0429, "FAR", "fa_IR"},
    {0x042A, "VIT", "vi_VN"},
    {0x042B, "HYE", "hy_AM"},
    {0x042C, "AZE", "az_AZ"},
    {0x042D, "EUQ", "eu_ES"},
    {0x042E, "HSB", "hsb_DE"},
    {0x042F, "MKI", "mk_MK"},
    {0x0430, "SOT", "st_ZA"},
    {0x0431, "TSO", "ts_ZA"},
    {0x0432, "TSN", "tn_ZA"},
    {0x0433, "ZZZ", "ve_ZA"},
    {0x0434, "XHO", "xh_ZA"},
    {0x0435, "ZUL", "zu_ZA"},
    {0x0436, "AFK", "af_ZA"},
    {0x0437, "KAT", "ka_GE"},
    {0x0438, "FOS", "fo_FO"},
    {0x0439, "HIN", "hi_IN"},
    {0x043A, "MLT", "mt_MT"},
    {0x043B, "SME", "se_NO"},
    {0x043D, "ZZZ", ""},
    {0x043E, "MSL", "ms_MY"},
    {0x043F, "KKZ", "kk_KZ"},
    {0x0440, "KYR", "ky_KG"},
    {0x0441, "SWK", "sw_KE"},
    {0x0442, "TUK", "tk_TM"},
    {0x0443, "UZB", "uz_UZ"},
    {0x0444, "TTT", "tt_RU"},
    {0x0445, "BNG", "bn_IN"},
    {0x0446, "PAN", "pa_IN"},
    {0x0447, "GUJ", "gu_IN"},
    {0x0448, "ORI", "or_IN"},
    {0x0449, "TAI", "ta_IN"},
    {0x044A, "TEL", "te_IN"},
    {0x044B, "KDI", "kn_IN"},
    {0x044C, "MYM", "ml_IN"},
    {0x044D, "ASM", "as_IN"},
    {0x044E, "MAR", "mr_IN"},
    {0x044F, "SAN", "sa_IN"},
    {0x0450, "MNN", "mn_MN"},
    {0x0451, "BOB", "bo_CN"},
    {0x0452, "CYM", "cy_GB"},
    {0x0453, "KHM", "km_KH"},
    {0x0454, "LAO", "lo_LA"},
    {0x0455, "MYA", "my_MM"},
    {0x0456, "GLC", "gl_ES"},
    {0x0457, "KNK", "kok_IN"},
    {0x0458, "ZZZ", "mni_IN"},
    {0x0459, "ZZZ", "sd_IN@devanagari"},
    {0x045A, "SYR", "syr_SY"},
    {0x045B, "SIN", "si_LK"},
    {0x045C, "CRE", "chr_US"},
    {0x045D, "IUS", "iu_CA"},
    {0x045E, "AMH", "am_ET"},
    {0x0461, "NEP", "ne_NP"},
    {0x0462, "FYN", "fy_NL"},
    {0x0463, "PAS", "ps_AF"},
    {0x0464, "FPO", "fil_PH"},
    {0x0465, "DIV", "dv_MV"},
    {0x0466, "ZZZ", "bin_NG"},
    {0x0467, "ZZZ", "ff_NG"},
    {0x0468, "HAU", "ha_NG"},
    {0x046A, "YOR", "yo_NG"},
    {0x046B, "QUZ", "quz_BO"},
    {0x046C, "NSO", "nso_ZA"},
    {0x046D, "BAS", "ba_RU"},
    {0x046E, "LBX", "lb_LU"},
    {0x046F, "KAL", "kl_GL"},
    {0x0470, "IBO", "ig_NG"},
    {0x0471, "ZZZ", "kr_NG"},
    {0x0472, "ORM", "om_ET"},
    {0x0473, "TIE", "ti_ET"},
    {0x0474, "GRN", "gn_PY"},
    {0x0475, "HAW", "haw_US"},
    {0x0476, "ZZZ", "la_VA"},
    {0x0477, "SOM", "so_SO"},
    {0x0478, "III", "ii_CN"},
    {0x047A, "MPD", "arn_CL"},
    {0x047C, "MWK", "moh_CA"},
    {0x047E, "BRE", "br_FR"},
    {0x0480, "UIG", "ug_CN"},
    {0x0481, "MRI", "mi_NZ"},
    {0x0482, "OCI", "oc_FR"},
    {0x0483, "COS", "co_FR"},
    {0x0484, "GSW", "gsw_FR"},
    {0x0485, "SAH", "sah_RU"},
    {0x0486, "QUC", "quc_GT"},
    {0x0487, "KIN", "rw_RW"},
    {0x0488, "WOL", "wo_SN"},
    {0x048C, "PRS", "prs_AF"},
    {0x0491, "GLA", "gd_GB"},
    {0x0492, "KUR", "ku_IQ"},
    {0x0801, "ARI", "ar_IQ"},
    {0x0803, "VAL", "ca_ES@valencia"},
    {0x0804, "CHS", "zh_CN"},
    {0x0807, "DES", "de_CH"},
    {0x0809, "ENG", "en_GB"},
    {0x080A, "ESM", "es_MX"},
    {0x080C, "FRB", "fr_BE"},
    {0x0810, "ITS", "it_CH"},
    {0x0813, "NLB", "nl_BE"},
    {0x0814, "NON", "nn_NO"},
    {0x0816, "PTG", "pt_PT"},
    {0x0818, "ROD", "ro_MD"},
    {0x0819, "RUM", "ru_MD"},
    {0x081D, "SVF", "sv_FI"},
    {0x0820, "URI", "ur_IN"},
    {0x082C, "AZC", "az_AZ@cyrillic"},
    {0x082E, "DSB", "dsb_DE"},
    {0x0832, "TSB", "tn_BW"},
    {0x083B, "SMF", "se_SE"},
    {0x083C, "IRE", "ga_IE"},
    {0x083E, "MSB", "ms_BN"},
    {0x0843, "UZC", "uz_UZ@cyrillic"},
    {0x0845, "BNB", "bn_BD"},
    {0x0846, "PAP", "pa_PK"},
    {0x0849, "TAM", "ta_LK"},
    {0x0850, "MNG", "mn_CN"},
    {0x0859, "SIP", "sd_PK"},
    {0x085D, "IUK", "iu_CA@latin"},
    {0x085F, "TZA", "tzm_DZ"},
    {0x0860, "ZZZ", "ks_IN@devanagari"},
    {0x0861, "NEI", "ne_IN"},
    {0x0867, "FUL", "ff_SN"},
    {0x086B, "QUZ", "quz_EC"},
    {0x0873, "TIR", "ti_ER"},
    {0x0C01, "ARE", "ar_EG"},
    {0x0C04, "ZHH", "zh_HK"},
    {0x0C07, "DEA", "de_AT"},
    {0x0C09, "ENA", "en_AU"},
    {0x0C0A, "ESN", "es_ES"},
    {0x0C0C, "FRC", "fr_CA"},
    {0x0C3B, "SMG", "se_FI"},
    {0x0C50, "MNM", "mn_MN@mongolian"},
    {0x0C51, "ZZZ", "dz_BT"},
    {0x0C6B, "QUZ", "quz_PE"},
    {0x1001, "ARL", "ar_LY"},
    {0x1004, "ZHI", "zh_SG"},
    {0x1007, "DEL", "de_LU"},
    {0x1009, "ENC", "en_CA"},
    {0x100A, "ESG", "es_GT"},
    {0x100C, "FRS", "fr_CH"},
    {0x101A, "HRB", "hr_BA"},
    {0x103B, "SMJ", "smj_NO"},
    {0x1401, "ARG", "ar_DZ"},
    {0x1404, "ZHM", "zh_MO"},
    {0x1407, "DEC", "de_LI"},
    {0x1409, "ENZ", "en_NZ"},
    {0x140A, "ESC", "es_CR"},
    {0x140C, "FRL", "fr_LU"},
    {0x141A, "BSB", "bs_BA"},
    {0x143B, "SMK", "smj_SE"},
    {0x1801, "ARM", "ar_MA"},
    {0x1809, "ENI", "en_IE"},
    {0x180A, "ESA", "es_PA"},
    {0x180C, "FRM", "fr_MC"},
    {0x181A, "SRS", "sr_BA@latin"},
    {0x183B, "SMA", "sma_NO"},
    {0x1C01, "ART", "ar_TN"},
    {0x1C09, "ENS", "en_ZA"},
    {0x1C0A, "ESD", "es_DO"},
    {0x1C0C, "ZZZ", ""},
    {0x1C1A, "SRN", "sr_BA"},
    {0x1C3B, "SMB", "sma_SE"},
    {0x2001, "ARO", "ar_OM"},
    {0x2009, "ENJ", "en_JM"},
    {0x200A, "ESV", "es_VE"},
    {0x200C, "FRR", "fr_RE"},
    {0x201A, "BSC", "bs_BA@cyrillic"},
    {0x203B, "SMS", "sms_FI"},
    {0x2401, "ARY", "ar_YE"},
    {0x2409, "ENB", ""},
    {0x240A, "ESO", "es_CO"},
    {0x240C, "FRD", "fr_CD"},
    {0x241A, "SRM", "sr_RS@latin"},
    {0x243B, "SMN", "smn_FI"},
    {0x2801, "ARS", "ar_SY"},
    {0x2809, "ENL", "en_BZ"},
    {0x280A, "ESR", "es_PE"},
    {0x280C, "FRN", "fr_SN"},
    {0x281A, "SRO", "sr_RS"},
    {0x2C01, "ARJ", "ar_JO"},
    {0x2C09, "ENT", "en_TT"},
    {0x2C0A, "ESS", "es_AR"},
    {0x2C0C, "FRE", "fr_CM"},
    {0x2C1A, "SRP", "sr_ME"},
    {0x3001, "ARB", "ar_LB"},
    {0x3009, "ENW", "en_ZW"},
    {0x300A, "ESF", "es_EC"},
    {0x300C, "FRI", "fr_CI"},
    {0x301A, "SRQ", "sr_ME@cyrillic"},
    {0x3401, "ARK", "ar_KW"},
    {0x3409, "ENP", "en_PH"},
    {0x340A, "ESL", "es_CL"},
    {0x340C, "FRF", "fr_ML"},
    {0x3801, "ARU", "ar_AE"},
    {0x3809, "ZZZ", "en_ID"},
    {0x380A, "ESY", "es_UY"},
    {0x380C, "FRO", "fr_MA"},
    {0x3C01, "ARH", "ar_BH"},
    {0x3C09, "ENH", "en_HK"},
    {0x3C0A, "ESZ", "es_PY"},
    {0x3C0C, "FRH", "fr_HT"},
    {0x4001, "ARQ", "ar_QA"},
    {0x4009, "ENN", "en_IN"},
    {0x400A, "ESB", "es_BO"},
    {0x4409, "ENM", "en_MY"},
    {0x440A, "ESE", "es_SV"},
    {0x4809, "ENE", "en_SG"},
    {0x480A, "ESH", "es_HN"},
    {0x4C09, "ZZZ", "en_AE"},
    {0x4C0A, "ESI", "es_NI"},
    {0x500A, "ESU", "es_PR"},
    {0x540A, "EST", "es_US"},
    {0x580A, "ESJ", ""},
    {0x5C0A, "ESK", "es_CU"},
};

constexpr bool SortedAndUnique() {
    for (size_t i = 1; i < std::size(kLocales); ++i) {
        if (kLocales[i - 1].id >= kLocales[i].id) return false;
    }
    return true;
}
static_assert(SortedAndUnique(), "the locale table must be sorted by id, without repeats");

// The parts of a POSIX locale name: language[_TERRITORY][.codeset][@modifier].
struct PosixName {
    std::string_view language;
    std::string_view territory;
    std::string_view modifier;
};

PosixName Split(std::string_view name) {
    PosixName parts;
    const size_t at = name.find('@');
    if (at != std::string_view::npos) {
        parts.modifier = name.substr(at + 1);
        name = name.substr(0, at);
    }
    name = name.substr(0, name.find('.'));
    const size_t underscore = name.find('_');
    parts.language = name.substr(0, underscore);
    if (underscore != std::string_view::npos) parts.territory = name.substr(underscore + 1);
    return parts;
}

std::string_view LanguageOf(std::string_view posixName) {
    return posixName.substr(0, posixName.find('_'));
}

// The entries that have a POSIX name, as positions in kLocales sorted by that name, so that a
// name is found by binary search.
constexpr size_t kNamedLocales = [] {
    size_t count = 0;
    for (const LocaleEntry& entry : kLocales) count += entry.posixName.empty() ? 0 : 1;
    return count;
}();

constexpr auto kByPosixName = [] {
    std::array<uint16_t, kNamedLocales> order{};
    size_t at = 0;
    for (size_t i = 0; i < std::size(kLocales); ++i) {
        if (!kLocales[i].posixName.empty()) order[at++] = static_cast<uint16_t>(i);
    }
    std::sort(order.begin(), order.end(), [](uint16_t a, uint16_t b) {
        return kLocales[a].posixName < kLocales[b].posixName;
    });
    return order;
}();

constexpr bool PosixNamesUnique() {
    for (size_t i = 1; i < kByPosixName.size(); ++i) {
        if (kLocales[kByPosixName[i - 1]].posixName == kLocales[kByPosixName[i]].posixName) return false;
    }
    return true;
}
static_assert(PosixNamesUnique(), "the POSIX names of the locale table must be unique");

// The longest name FindPosix composes; no name of the table is longer.
constexpr size_t kMaxPosixName = 32;
static_assert(std::all_of(std::begin(kLocales), std::end(kLocales),
                          [](const LocaleEntry& entry) { return entry.posixName.size() <= kMaxPosixName; }));

// The entry named "language_territory", or "language_territory@modifier" when modifier is not
// empty.
const LocaleEntry* FindPosix(std::string_view language, std::string_view territory,
                             std::string_view modifier) {
    char buffer[kMaxPosixName];
    const size_t length = language.size() + 1 + territory.size() + (modifier.empty() ? 0 : 1 + modifier.size());
    if (length > sizeof buffer) return nullptr;  // no name of the table is that long
    char* at = std::copy(language.begin(), language.end(), buffer);
    *at++ = '_';
    at = std::copy(territory.begin(), territory.end(), at);
    if (!modifier.empty()) {
        *at++ = '@';
        std::copy(modifier.begin(), modifier.end(), at);
    }
    const std::string_view name(buffer, length);
    const auto* found = std::lower_bound(
        kByPosixName.begin(), kByPosixName.end(), name,
        [](uint16_t entry, std::string_view key) { return kLocales[entry].posixName < key; });
    return found != kByPosixName.end() && kLocales[*found].posixName == name ? &kLocales[*found] : nullptr;
}

}  // namespace

std::span<const LocaleEntry> LocaleTable() noexcept { return kLocales; }

const LocaleEntry* FindLocale(LocaleId id) noexcept {
    const auto* end = std::end(kLocales);
    const auto* found = std::lower_bound(
        std::begin(kLocales), end, id,
        [](const LocaleEntry& entry, LocaleId key) { return entry.id < key; });
    return found != end && found->id == id ? found : nullptr;
}

LocaleId LocaleFromPosixName(std::string_view name) noexcept {
    const PosixName parts = Split(name);
    if (parts.language.empty() || parts.language == "C" || parts.language == "POSIX") {
        return kEnglishUnitedStates;
    }
    if (!parts.territory.empty()) {
        if (const LocaleEntry* entry = FindPosix(parts.language, parts.territory, parts.modifier)) {
            return entry->id;
        }
        if (const LocaleEntry* entry = FindPosix(parts.language, parts.territory, {})) {
            return entry->id;
        }
    }
    // The language alone: its locale with the default sublanguage, else its lowest id.
    const LocaleEntry* lowest = nullptr;
    for (const LocaleEntry& entry : kLocales) {
        if (entry.posixName.empty() || LanguageOf(entry.posixName) != parts.language) continue;
        if (lowest == nullptr) lowest = &entry;
        // Languages share primary ids (Croatian, Serbian, Bosnian): the default-sublanguage
        // locale counts only when it is of the same language, or has no POSIX name (Spanish's
        // 0x040A, traditional sort).
        const LocaleEntry* primary = FindLocale((entry.id & 0x03FF) | 0x0400);
        if (primary != nullptr && (primary->posixName.empty() ||
                                   LanguageOf(primary->posixName) == parts.language)) {
            return primary->id;
        }
    }
    return lowest != nullptr ? lowest->id : kEnglishUnitedStates;
}

}  // namespace tavix::locale
