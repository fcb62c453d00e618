#include "sandbox/sql/VirtualLog.h"

#include <algorithm>
#include <cstdio>

namespace sandbox {

namespace {

constexpr std::int64_t Pages64Mb = 8192;
constexpr std::int64_t Pages1Gb = 131072;
constexpr std::int32_t Pages64Kb = 8;

// Learn, "SQL Server transaction log architecture and management guide":
// from 2014 a growth under 1/8 of the log makes one VLF; otherwise up to
// 64 MB makes 4 (one from 2022, for a growth), up to 1 GB 8, more 16.
int vlfCount(std::int64_t growth, std::int64_t current, Generation g)
{
    if (current > 0 && g >= Generation::Sql2014 && growth * 8 < current)
        return 1;
    if (growth <= Pages64Mb)
        return current > 0 && g >= Generation::Sql2022 ? 1 : 4;
    return growth <= Pages1Gb ? 8 : 16;
}

void wrapToStart(std::vector<Vlf>& vlfs)
{
    const auto first = std::find_if(vlfs.begin(), vlfs.end(), [](const Vlf& v) { return v.state == VlfState::Reusable; });
    if (first == vlfs.end())
        return;
    std::int32_t last = 0;
    for (Vlf& v : vlfs) {
        last = std::max(last, v.sequence);
        if (v.state == VlfState::Active)
            v.state = VlfState::Inactive;
    }
    first->state = VlfState::Active;
    first->sequence = last + 1;
    first->parity = first->parity == 64 ? 128 : 64;
}

} // namespace

std::vector<std::int32_t> vlfSizes(std::int32_t growth, std::int32_t current, Generation g)
{
    // The header page is not part of any VLF; the rest is shared out in
    // whole 64 KB units, the last VLF taking what is left over.
    const std::int32_t room = growth - (current == 0 ? 1 : 0);
    if (room <= 0)
        return {};
    const std::int32_t n = std::min<std::int32_t>(vlfCount(growth, current, g), room);
    std::int32_t share = room / n;
    if (share >= Pages64Kb)
        share -= share % Pages64Kb;
    std::vector<std::int32_t> sizes(static_cast<std::size_t>(n), share);
    sizes.back() = room - share * (n - 1);
    return sizes;
}

std::vector<Vlf> layOutLog(std::int32_t created, const std::vector<std::int32_t>& growths, Generation g,
                           std::int32_t firstSequence)
{
    std::vector<Vlf> vlfs;
    std::int32_t size = 0;
    const auto grow = [&](std::int32_t growth, DecimalLsn createLsn) {
        std::int32_t at = std::max(size, 1);
        for (const std::int32_t pages : vlfSizes(growth, size, g)) {
            vlfs.push_back(Vlf{at, pages, VlfState::Reusable, 0, 0, createLsn});
            at += pages;
        }
        size += growth;
    };
    grow(created, 0);
    for (std::size_t i = 0; i < growths.size(); ++i) {
        const auto step = static_cast<std::int32_t>(std::min<std::size_t>(i, 1000));
        grow(growths[i], decimalLsn(std::max(firstSequence - 20, 1) + step, 16 + 8 * step, 1));
    }
    return vlfs;
}

void placeLog(std::vector<Vlf>& vlfs, std::int32_t firstPage, std::int32_t inactivePages, std::int32_t activePages,
              std::int32_t& nextSequence)
{
    if (vlfs.empty())
        return;
    const std::int32_t begin = vlfs.front().start;
    const std::int32_t end = vlfs.back().end();
    const std::int64_t length = std::min<std::int64_t>(std::int64_t{inactivePages} + activePages, end - begin);
    if (length <= 0)
        return;
    const std::int32_t first = std::clamp(firstPage, begin, end - 1);
    const auto holding = [&vlfs](std::int32_t page) {
        const auto after = std::upper_bound(vlfs.begin(), vlfs.end(), page,
                                            [](std::int32_t p, const Vlf& v) { return p < v.start; });
        return static_cast<std::size_t>(after - vlfs.begin()) - 1;
    };

    // The VLFs the log passes through, in the order it was written.
    std::vector<std::size_t> run;
    std::size_t i = holding(first);
    std::int32_t from = first;
    for (std::int64_t covered = 0; covered < length;) {
        const std::int64_t here = std::min<std::int64_t>(vlfs[i].end() - from, length - covered);
        const VlfState state = covered + here > inactivePages ? VlfState::Active : VlfState::Inactive;
        if (!run.empty() && i == run.front()) {  // round to the part of the first VLF before `first`
            vlfs[i].state = std::max(vlfs[i].state, state);
            break;
        }
        vlfs[i].state = state;
        run.push_back(i);
        covered += here;
        i = (i + 1) % vlfs.size();
        from = vlfs[i].start;
    }

    // VLFs used before the log's start got the lower numbers; past its
    // end, if it never wrapped round, nothing was used yet.
    std::size_t wrapAt = run.size();
    for (std::size_t k = 1; k < run.size(); ++k)
        if (run[k] < run[k - 1])
            wrapAt = k;
    const std::size_t usedFrom = wrapAt < run.size() ? run.back() + 1 : 0;
    for (std::size_t k = usedFrom; k < run.front(); ++k) {
        vlfs[k].sequence = nextSequence++;
        vlfs[k].parity = 64;
    }
    for (std::size_t k = 0; k < run.size(); ++k) {
        vlfs[run[k]].sequence = nextSequence++;
        vlfs[run[k]].parity = k >= wrapAt ? 128 : 64;
    }
}

void truncateLog(std::vector<Vlf>& vlfs)
{
    for (Vlf& v : vlfs)
        if (v.state == VlfState::Inactive)
            v.state = VlfState::Reusable;
}

std::int32_t pagesIn(const std::vector<Vlf>& vlfs, VlfState state)
{
    std::int32_t pages = 0;
    for (const Vlf& v : vlfs)
        if (v.state == state)
            pages += v.pages;
    return pages;
}

ShrinkResult shrinkLog(std::vector<Vlf>& vlfs, std::int32_t size, std::int32_t target, std::size_t otherVlfs,
                       bool wrapWhenBlocked)
{
    // "The target size is rounded to the next highest virtual log file
    // boundary" (ms178037): a VLF goes only if the file stays at or above it.
    ShrinkResult result{ShrinkResult::Stop::Reached, size};
    bool removed = false;
    while (!vlfs.empty()) {
        const Vlf& last = vlfs.back();
        if (last.start < target) {
            if (!removed && target < size)
                result.stop = ShrinkResult::Stop::InsideLast;
            break;
        }
        if (vlfs.size() + otherVlfs <= MinimumVlfs) {
            result.stop = ShrinkResult::Stop::TooFew;
            break;
        }
        if (last.state != VlfState::Reusable) {
            result.stop = ShrinkResult::Stop::InUse;
            if (wrapWhenBlocked && last.state == VlfState::Active)
                wrapToStart(vlfs);
            break;
        }
        vlfs.pop_back();
        removed = true;
    }
    if (removed)
        result.size = vlfs.empty() ? 1 : vlfs.back().end();
    return result;
}

DecimalLsn decimalLsn(std::int32_t sequence, std::int32_t block, std::int32_t slot)
{
    return DecimalLsn{sequence} * 1'000'000'000'000'000 + DecimalLsn{block} * 100'000 + slot;
}

std::u16string textLsn(DecimalLsn decimal)
{
    char text[32];
    std::snprintf(text, sizeof text, "%08llX:%08llX:%04llX",
                  static_cast<unsigned long long>(decimal / 1'000'000'000'000'000),
                  static_cast<unsigned long long>(decimal / 100'000 % 10'000'000'000),
                  static_cast<unsigned long long>(decimal % 100'000));
    return std::u16string(text, text + std::char_traits<char>::length(text));
}

std::u16string lsnDigits(DecimalLsn decimal)
{
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + static_cast<int>(decimal % 10)));
        decimal /= 10;
    } while (decimal > 0);
    return digits;
}

} // namespace sandbox
