// 8-bit text is the process's ANSI code page on Windows.
#include "platform/codepage.h"

#include <windows.h>

#include <climits>

namespace tavix::platform {

namespace {

class AnsiCodePage final : public CodePage {
public:
    AnsiCodePage() {
        CPINFO info{};
        if (GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 2) {
            for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
                for (unsigned b = info.LeadByte[i]; b <= info.LeadByte[i + 1]; ++b) leadBytes_.set(b);
            }
            hasLeadBytes_ = leadBytes_.any();
        }
    }

    std::string ToNarrow(WStringView text) const override {
        if (text.empty()) return {};
        if (text.size() > INT_MAX / 4) return {};
        const int length = static_cast<int>(text.size());
        const int bytes = WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
        std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
        if (bytes > 0) {
            WideCharToMultiByte(CP_ACP, 0, text.data(), length, out.data(), bytes, nullptr, nullptr);
        }
        return out;
    }

    WString ToWide(std::string_view text) const override {
        if (text.empty()) return {};
        if (text.size() > INT_MAX / 2) return {};
        const int length = static_cast<int>(text.size());
        const int chars = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
        WString out(static_cast<size_t>(chars > 0 ? chars : 0), L'\0');
        if (chars > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), length, out.data(), chars);
        return out;
    }

    const std::bitset<256>* LeadBytes() const override {
        return hasLeadBytes_ ? &leadBytes_ : nullptr;
    }

private:
    std::bitset<256> leadBytes_;
    bool hasLeadBytes_ = false;
};

}  // namespace

const CodePage& SystemCodePage() {
    static const AnsiCodePage codePage;
    return codePage;
}

}  // namespace tavix::platform
