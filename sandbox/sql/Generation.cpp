#include "sandbox/sql/Generation.h"

#include "sandbox/tds/Version.h"

#include <iterator>

namespace sandbox {

namespace {

// The last service pack or a late cumulative update of each, as servers
// still in use report them; builds, CUs and KBs as Microsoft's build lists
// have them (sandbox/README.md).
constexpr GenerationInfo Generations[] = {
    {Generation::Sql2000, "2000", 8, 0, 2039, tds::Version71, u"8.00.2039", u"SP4", u"Standard Edition", 80, 539,
     u"Microsoft SQL Server  2000 - 8.00.2039 (Intel X86) \n\tMay  3 2005 23:18:38 \n"
     u"\tCopyright (c) 1988-2003 Microsoft Corporation\n"
     u"\tStandard Edition on Windows NT 5.2 (Build 3790: Service Pack 2)\n",
     nullptr, nullptr},
    {Generation::Sql2005, "2005", 9, 0, 5000, tds::Version72, u"9.00.5000.00", u"SP4", u"Standard Edition", 90, 611,
     u"Microsoft SQL Server 2005 - 9.00.5000.00 (Intel X86) \n\tDec 10 2010 10:56:29 \n"
     u"\tCopyright (c) 1988-2005 Microsoft Corporation\n"
     u"\tStandard Edition on Windows NT 5.2 (Build 3790: Service Pack 2)\n",
     nullptr, nullptr},
    {Generation::Sql2008, "2008", 10, 0, 6000, tds::Version73A, u"10.0.6000.29", u"SP4", u"Standard Edition (64-bit)",
     100, 655,
     u"Microsoft SQL Server 2008 (SP4) - 10.0.6000.29 (X64) \n\tSep  3 2014 04:11:34 \n"
     u"\tCopyright (c) 1988-2008 Microsoft Corporation\n"
     u"\tStandard Edition (64-bit) on Windows NT 6.1 <X64> (Build 7601: Service Pack 1)\n",
     nullptr, nullptr},
    {Generation::Sql2008R2, "2008R2", 10, 50, 6000, tds::Version73B, u"10.50.6000.34", u"SP3",
     u"Standard Edition (64-bit)", 100, 661,
     u"Microsoft SQL Server 2008 R2 (SP3) - 10.50.6000.34 (X64) \n\tAug 19 2014 12:21:34 \n"
     u"\tCopyright (c) Microsoft Corporation\n"
     u"\tStandard Edition (64-bit) on Windows NT 6.1 <X64> (Build 7601: Service Pack 1)\n",
     nullptr, nullptr},
    {Generation::Sql2012, "2012", 11, 0, 7001, tds::Version74, u"11.0.7001.0", u"SP4", u"Standard Edition (64-bit)", 110,
     706,
     u"Microsoft SQL Server 2012 (SP4) (KB4018073) - 11.0.7001.0 (X64) \n\tAug 15 2017 10:23:29 \n"
     u"\tCopyright (c) Microsoft Corporation\n"
     u"\tStandard Edition (64-bit) on Windows NT 6.3 <X64> (Build 9600: )\n",
     nullptr, u"KB4018073"},
    {Generation::Sql2014, "2014", 12, 0, 6024, tds::Version74, u"12.0.6024.0", u"SP3", u"Standard Edition (64-bit)", 120,
     782,
     u"Microsoft SQL Server 2014 (SP3) (KB4022619) - 12.0.6024.0 (X64) \n\tSep  7 2018 01:37:51 \n"
     u"\tCopyright (c) Microsoft Corporation\n"
     u"\tStandard Edition (64-bit) on Windows NT 6.3 <X64> (Build 9600: ) (Hypervisor)\n",
     nullptr, u"KB4022619"},
    {Generation::Sql2016, "2016", 13, 0, 6300, tds::Version74, u"13.0.6300.2", u"SP3", u"Standard Edition (64-bit)", 130,
     852,
     u"Microsoft SQL Server 2016 (SP3) (KB5003279) - 13.0.6300.2 (X64) \n\tAug  7 2021 01:20:37 \n"
     u"\tCopyright (c) Microsoft Corporation\n"
     u"\tStandard Edition (64-bit) on Windows Server 2016 Standard 10.0 <X64> (Build 14393: ) (Hypervisor)\n",
     nullptr, u"KB5003279"},
    {Generation::Sql2017, "2017", 14, 0, 3456, tds::Version74, u"14.0.3456.2", u"RTM", u"Standard Edition (64-bit)", 140,
     869,
     u"Microsoft SQL Server 2017 (RTM-CU31) (KB5016884) - 14.0.3456.2 (X64) \n\tSep  2 2022 11:01:50 \n"
     u"\tCopyright (C) 2017 Microsoft Corporation\n"
     u"\tStandard Edition (64-bit) on Windows Server 2019 Standard 10.0 <X64> (Build 17763: ) (Hypervisor)\n",
     u"CU31", u"KB5016884"},
    {Generation::Sql2019, "2019", 15, 0, 4322, tds::Version74, u"15.0.4322.2", u"RTM", u"Standard Edition (64-bit)", 150,
     904,
     u"Microsoft SQL Server 2019 (RTM-CU22) (KB5027702) - 15.0.4322.2 (X64) \n\tJul 26 2023 17:02:30 \n"
     u"\tCopyright (C) 2019 Microsoft Corporation\n"
     u"\tStandard Edition (64-bit) on Windows Server 2019 Standard 10.0 <X64> (Build 17763: ) (Hypervisor)\n",
     u"CU22", u"KB5027702"},
    {Generation::Sql2022, "2022", 16, 0, 4115, tds::Version74, u"16.0.4115.5", u"RTM", u"Standard Edition (64-bit)", 160,
     957,
     u"Microsoft SQL Server 2022 (RTM-CU12) (KB5033663) - 16.0.4115.5 (X64) \n\tMar  4 2024 08:56:10 \n"
     u"\tCopyright (C) 2022 Microsoft Corporation\n"
     u"\tStandard Edition (64-bit) on Windows Server 2022 Standard 10.0 <X64> (Build 20348: ) (Hypervisor)\n",
     u"CU12", u"KB5033663"},
};

} // namespace

const GenerationInfo& generationInfo(Generation g) { return Generations[static_cast<std::size_t>(g)]; }

std::optional<Generation> generationNamed(std::string_view name)
{
    for (const GenerationInfo& i : Generations)
        if (name == i.name)
            return i.generation;
    return std::nullopt;
}

std::string generationNames()
{
    std::string names;
    for (const GenerationInfo& i : Generations)
        names += (names.empty() ? "" : "|") + std::string(i.name);
    return names;
}

std::int32_t microsoftVersion(Generation g)
{
    const GenerationInfo& i = generationInfo(g);
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(i.major) << 24) | (static_cast<std::uint32_t>(i.minor) << 16)
                                     | i.build);
}

} // namespace sandbox
