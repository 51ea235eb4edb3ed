#include "engine/WipeReport.h"

#include "engine/PassSequences.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr const char* MethodNames[] = {
    "Cryptographically strong random data",
    "US DoD 5220.22-M - 7 passes",
    "Gutmann - 35 passes",
};

std::string OneDecimal(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string Plural(uint64_t count, const char* one, const char* many)
{
    return CountText(count) + " " + (count == 1 ? one : many);
}

std::string FailureEntries(const WipeResult& result)
{
    std::string text;
    for (const WipeResult::Failure& failure : result.Failures)
        text += failure.What + ": \n" + failure.Why + "\n\n";
    return text;
}

} // namespace

std::string ByteCountText(uint64_t bytes)
{
    if (bytes < 1024)
        return Plural(bytes, "byte", "bytes");
    const char* const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1024;
    size_t unit = 0;
    // 1023.96 MB would show as "1024.0 MB": the next unit reads better.
    while (value >= 1023.95 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    return OneDecimal(value) + " " + units[unit];
}

std::string CountText(uint64_t count)
{
    std::string digits = std::to_string(count);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<size_t>(at), ",");
    return digits;
}

std::string RateText(double bytesPerSecond)
{
    return ByteCountText(static_cast<uint64_t>(std::max(0.0, bytesPerSecond))) + "/s";
}

std::string DurationText(double seconds)
{
    if (!(seconds >= 0) || seconds < 60)
        return "less than a minute";
    const auto minutes = static_cast<uint64_t>(std::ceil(seconds / 60));
    if (minutes < 60)
        return "about " + Plural(minutes, "minute", "minutes");
    const uint64_t hours = minutes / 60;
    const uint64_t rest = minutes % 60;
    std::string text = "about " + Plural(hours, "hour", "hours");
    if (rest > 0)
        text += " " + Plural(rest, "minute", "minutes");
    return text;
}

int PassCountOf(const ShredSettings& settings)
{
    switch (settings.ShreddingMethod) {
    case MethodDoD:
        return DoDPassCount;
    case MethodGutmann:
        return GutmannPassCount;
    default:
        return std::clamp(settings.Passes, MinPasses, MaxPasses);
    }
}

std::string MethodText(const ShredSettings& settings)
{
    if (settings.ShreddingMethod == MethodDoD || settings.ShreddingMethod == MethodGutmann)
        return MethodNames[settings.ShreddingMethod];
    const int passes = PassCountOf(settings);
    return std::string(MethodNames[MethodRandomData]) + ", " +
           Plural(static_cast<uint64_t>(passes), "pass", "passes");
}

std::string SystemErrorText(DWORD error)
{
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length ? std::string(text, length) : std::string();
    ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == '.' || message.back() == ' '))
        message.pop_back();
    if (message.empty())
        return "error " + std::to_string(error);
    return message + " (error " + std::to_string(error) + ")";
}

namespace {

// The result line; the failures themselves follow its count when `details` is set.
std::string ResultLine(const WipeResult& result, bool details)
{
    const std::string what = ByteCountText(result.BytesWiped) + ", " +
                             Plural(result.Records, "file record", "file records");
    std::string errors = Plural(result.Failures.size(), "error", "errors");
    if (details) {
        for (size_t i = 0; i < result.Failures.size(); ++i)
            errors +=
                (i == 0 ? ": " : "; ") + result.Failures[i].What + ": " + result.Failures[i].Why;
    }
    const std::string prefix = "Free space on " + result.Volume;
    switch (result.Outcome) {
    case WipeOutcome::Wiped:
        return prefix + " wiped: " + what;
    case WipeOutcome::Refused:
        return prefix + " not wiped: " + result.Refusal;
    case WipeOutcome::Cancelled:
        if (result.BytesWiped == 0 && result.Records == 0 && result.Failures.empty())
            return prefix + " not wiped: cancelled";
        return prefix + " not wiped: cancelled after " + what + "; " +
               (result.Failures.empty() ? "every filler file deleted" : errors);
    default:
        return prefix + " not wiped completely: " + what + "; " + errors;
    }
}

} // namespace

std::string WipeResultLine(const WipeResult& result)
{
    return ResultLine(result, true);
}

std::string WipeResultBox(const WipeResult& result)
{
    if (result.Outcome == WipeOutcome::Refused)
        return result.Refusal;
    if (result.Failures.empty())
        return result.Outcome == WipeOutcome::Cancelled ? std::string() : ResultLine(result, false);
    return "Error(s) occurred while wiping the free space of " + result.Volume + " \n\n" +
           FailureEntries(result) + ResultLine(result, false);
}
