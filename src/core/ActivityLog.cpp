#include "core/ActivityLog.h"

#include <charconv>

void FormatLogInto(ByteString& out, ByteView format, std::initializer_list<TLogArg> args)
{
    auto next = args.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        size_t percent = format.find('%', i);
        if (percent == ByteView::npos) {
            out.append(format.substr(i));
            return;
        }
        out.append(format.substr(i, percent - i));
        i = percent;
        char c = '%';
        if (i + 1 >= format.size()) {
            out += c;
            continue;
        }
        char kind = format[i + 1];
        if (kind == '%') {
            out += '%';
            ++i;
            continue;
        }
        if ((kind != 'd' && kind != 'x' && kind != 's') || next == args.end()) {
            out += c;
            continue;
        }
        const TLogArg& arg = *next++;
        ++i;
        if (kind == 's') {
            if (arg.IsText)
                out.append(arg.Text);
            continue;
        }
        char digits[16];
        std::to_chars_result r;
        if (kind == 'd')
            r = std::to_chars(digits, digits + sizeof digits, static_cast<int32_t>(arg.Number));
        else
            r = std::to_chars(digits, digits + sizeof digits, arg.Number, 16);
        if (kind == 'x')
            for (char* p = digits; p != r.ptr; ++p)
                *p = *p >= 'a' ? static_cast<char>(*p - 'a' + 'A') : *p;
        out.append(digits, static_cast<size_t>(r.ptr - digits));
    }
}

ByteString FormatLog(ByteView format, std::initializer_list<TLogArg> args)
{
    ByteString out;
    FormatLogInto(out, format, args);
    return out;
}
