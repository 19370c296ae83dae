#include "store/StoreFixture.h"

namespace vorlen::test {
namespace {

class HeadersTest : public StoreFixture {
protected:
    void Future(std::int64_t id, std::int32_t isin_id, const std::string& isin) {
        TRowBytes r(Ref, "fut_sess_contents");
        r.Key(id).Int("isin_id", isin_id).Text("isin", isin).Text("short_isin", "s" + isin);
        r.Text("name", "name " + isin);
        Send(kRef, r);
    }
    void Option(std::int64_t id, std::int32_t isin_id, const std::string& isin) {
        TRowBytes r(Ref, "opt_sess_contents");
        r.Key(id).Int("isin_id", isin_id).Text("isin", isin).Text("short_isin", "s" + isin);
        r.Text("name", "name " + isin);
        Send(kRef, r);
    }
    void Spot(std::int64_t id, std::int32_t bond_id, const std::string& ticker) {
        TRowBytes r(Ref, "fut_bond_registry");
        r.Key(id).Int("bond_id", bond_id).Text("small_name", ticker);
        r.Text("short_isin", "s" + ticker).Text("name", "name " + ticker);
        Send(kRef, r);
    }

    THeaders Fut, Opt;
    TSHeaders Spt;
};

TEST_F(HeadersTest, BuildsTheThreeListsInArrivalOrder) {
    Future(5, 100, "Si-3.25");
    Future(2, 101, "RI-3.25");
    Option(1, 200, "Si80000BC5");
    Spot(9, 300, "SBER");
    ASSERT_TRUE(Store.BuildHeaders());
    Store.GetHeaders(Fut, Opt, Spt);

    ASSERT_EQ(Fut.size(), 2u);
    EXPECT_EQ(Fut[0].isin, "Si-3.25");
    EXPECT_EQ(Fut[0].isin_id, 100);
    EXPECT_EQ(Fut[0].short_isin, "sSi-3.25");
    EXPECT_EQ(Fut[0].name, "name Si-3.25");
    EXPECT_EQ(Fut[1].isin, "RI-3.25");
    ASSERT_EQ(Opt.size(), 1u);
    EXPECT_EQ(Opt[0].isin_id, 200);
    EXPECT_EQ(Opt[0].isin, "Si80000BC5");
    ASSERT_EQ(Spt.size(), 1u);
    EXPECT_EQ(Spt[0].bond_id, 300);
    EXPECT_EQ(Spt[0].small_name, "SBER");
    EXPECT_EQ(Spt[0].short_isin, "sSBER");
}

TEST_F(HeadersTest, CltFilterDropsFuturesWithoutLeavingEmptyEntries) {
    Future(1, 100, "Si-3.25");
    Future(2, 101, "Si-3.25_CLT");
    Future(3, 102, "RI-3.25");
    Store.SetCLTFut(true);
    ASSERT_TRUE(Store.BuildHeaders());
    Store.GetHeaders(Fut, Opt, Spt);
    ASSERT_EQ(Fut.size(), 2u);
    EXPECT_EQ(Fut[0].isin_id, 100);
    EXPECT_EQ(Fut[1].isin_id, 102);

    Store.SetCLTFut(false);
    ASSERT_TRUE(Store.BuildHeaders());
    Store.GetHeaders(Fut, Opt, Spt);
    EXPECT_EQ(Fut.size(), 3u);
}

TEST_F(HeadersTest, AnEmptyTableLeavesItsListAsItWas) {
    Future(1, 100, "Si-3.25");
    ASSERT_TRUE(Store.BuildHeaders());
    Store.LNClearTables(kRef);
    ASSERT_TRUE(Store.BuildHeaders());
    Store.GetHeaders(Fut, Opt, Spt);
    ASSERT_EQ(Fut.size(), 1u);
    EXPECT_EQ(Fut[0].isin, "Si-3.25");
}

TEST_F(HeadersTest, AMissingFieldFailsAndStopsTheLaterPasses) {
    // A reference stream whose futures table has no "name" field.
    TTestScheme broken;
    broken
        .Table("fut_sess_contents",
               ReplFields({{"isin_id", "i4", 4}, {"isin", "c25", 25}, {"short_isin", "c25", 25}}))
        .Table("opt_sess_contents", ReplFields({{"isin_id", "i4", 4},
                                                {"isin", "c25", 25},
                                                {"short_isin", "c25", 25},
                                                {"name", "c75", 75}}));
    Open(kRef, broken);
    for (std::int64_t id : {1, 2}) {
        TRowBytes f(broken, "fut_sess_contents");
        f.Key(id).Int("isin_id", 100).Text("isin", "Si-3.25");
        Send(kRef, f);
    }
    TRowBytes o(broken, "opt_sess_contents");
    o.Key(1).Int("isin_id", 200).Text("isin", "opt").Text("name", "n");
    Send(kRef, o);

    EXPECT_FALSE(Store.BuildHeaders());
    Store.GetHeaders(Fut, Opt, Spt);
    // The list keeps the table's length with nothing filled; options were never reached.
    ASSERT_EQ(Fut.size(), 2u);
    EXPECT_EQ(Fut[0].isin, "");
    EXPECT_EQ(Fut[1].isin_id, 0);
    EXPECT_TRUE(Opt.empty());

    // When the filter skips every row, no row is asked for the missing field.
    TRowBytes f(broken, "fut_sess_contents");
    Store.LNClearTables(kRef);
    f.Key(1).Text("isin", "X_CLT");
    Send(kRef, f);
    Send(kRef, o);
    Store.SetCLTFut(true);
    EXPECT_TRUE(Store.BuildHeaders());
    Store.GetHeaders(Fut, Opt, Spt);
    EXPECT_TRUE(Fut.empty());
    EXPECT_EQ(Opt.size(), 1u);
}

TEST_F(HeadersTest, GetDataCopiesListsAndSharesRows) {
    Future(1, 100, "Si-3.25");
    Store.BuildHeaders();
    TMarketData md;
    Store.GetData(md);
    EXPECT_EQ(md.FutSPos, kRef);
    EXPECT_EQ(md.FutTpos, static_cast<std::int32_t>(Ref.Index("fut_sess_contents")));
    EXPECT_EQ(md.OptTpos, static_cast<std::int32_t>(Ref.Index("opt_sess_contents")));
    EXPECT_EQ(md.SpotTpos, static_cast<std::int32_t>(Ref.Index("fut_bond_registry")));
    ASSERT_EQ(md.FutHdr.size(), 1u);

    md.FutHdr[0].isin = "changed";
    Store.GetHeaders(Fut, Opt, Spt);
    EXPECT_EQ(Fut[0].isin, "Si-3.25");

    Future(1, 100, "Si-6.25");
    const TTable& t = md.Streams[kRef].Tables[static_cast<std::size_t>(md.FutTpos)];
    EXPECT_EQ(Text(t.Values->Find(1), "isin"), "Si-6.25");

    // The lists are copied again only once they changed: new headers, a stream described anew;
    // another store's lists are never taken for this one's.
    Store.GetData(md);
    EXPECT_EQ(md.FutHdr[0].isin, "changed");
    Store.BuildHeaders();
    Store.GetData(md);
    EXPECT_EQ(md.FutHdr[0].isin, "Si-6.25");
    md.FutSPos = -1;
    Open(kRef, Ref);
    Store.GetData(md);
    EXPECT_EQ(md.FutSPos, kRef);
    TCGStorage other;
    other.GetData(md);
    EXPECT_TRUE(md.Streams.empty());
}

TEST(StoreCreate, StartsWithNoPositionsListsOrStreams) {
    TCGStorage store;
    TMarketData md;
    md.FutSPos = 3;
    md.Streams.resize(2);
    store.GetData(md);
    EXPECT_EQ(md.FutSPos, -1);
    EXPECT_EQ(md.FutTpos, -1);
    EXPECT_EQ(md.OptSpos, -1);
    EXPECT_EQ(md.SpotTpos, -1);
    EXPECT_TRUE(md.Streams.empty());
    EXPECT_TRUE(md.FutHdr.empty());
    EXPECT_TRUE(store.BuildHeaders());
}

} // namespace
} // namespace vorlen::test
