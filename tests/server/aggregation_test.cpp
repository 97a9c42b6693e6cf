// An object aggregated into an outer object that the test writes as a client would.
#include <gtest/gtest.h>
#include <ocidl.h>
#include <vector>
#include "loaded_server.hpp"

namespace server_tests {
namespace {

// The controlling object: answers IUnknown itself, passes IFormattedIO488 and
// ISupportErrorInfo on to the inner object, and withholds IProvideClassInfo2, which the
// inner object has, so a query that skips the outer object shows. It lives on the stack,
// so its count is only observed, never acted on.
class outer_object final : public IUnknown {
public:
    ~outer_object()
    {
        if (inner_)
            inner_->Release();
    }

    HRESULT aggregate(IClassFactory* factory)
    {
        return factory->CreateInstance(this, IID_IUnknown, reinterpret_cast<void**>(&inner_));
    }
    IUnknown* inner() const noexcept { return inner_; }
    long count() const noexcept { return count_; }
    const std::vector<IID>& queries() const noexcept { return queries_; }

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        queries_.push_back(riid);
        if (InlineIsEqualGUID(riid, IID_IUnknown)) {
            *out = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        if (inner_ && (InlineIsEqualGUID(riid, iid_formatted_io) || InlineIsEqualGUID(riid, IID_ISupportErrorInfo)))
            return inner_->QueryInterface(riid, out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++count_); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--count_); }

private:
    IUnknown* inner_ = nullptr;
    long count_ = 1; // the client's own reference
    std::vector<IID> queries_;
};

class Aggregation : public loaded_server {
protected:
    void SetUp() override
    {
        loaded_server::SetUp();
        factory = server.class_factory();
        ASSERT_TRUE(factory);
    }
    void TearDown() override
    {
        factory.Reset();
        loaded_server::TearDown();
    }

    // The inner object's own count, read without changing it.
    static ULONG inner_count(IUnknown* inner)
    {
        inner->AddRef();
        return inner->Release();
    }

    com_ptr<IClassFactory> factory;
};

TEST_F(Aggregation, OnlyTheInnerUnknownMayBeAskedFor)
{
    outer_object outer;
    for (const IID* iid : {&iid_formatted_io, &IID_ISupportErrorInfo, &IID_IProvideClassInfo2, &IID_IDispatch}) {
        void* out = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(factory->CreateInstance(&outer, *iid, &out), CLASS_E_NOAGGREGATION);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(outer.count(), 1);
    factory.Reset();
    EXPECT_EQ(server.can_unload_now(), S_OK) << "nothing was created";
}

TEST_F(Aggregation, InnerUnknownIsItsOwnObject)
{
    outer_object outer;
    ASSERT_EQ(outer.aggregate(factory.Get()), S_OK);
    IUnknown* inner = outer.inner();
    ASSERT_NE(inner, nullptr);
    EXPECT_NE(inner, static_cast<IUnknown*>(&outer));
    EXPECT_EQ(inner_count(inner), 1u);
    EXPECT_EQ(outer.count(), 1) << "the inner object holds no reference to its outer object";

    IUnknown* again = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&again)), S_OK);
    EXPECT_EQ(again, inner);
    EXPECT_EQ(inner_count(inner), 2u);
    again->Release();
    EXPECT_EQ(inner->QueryInterface(iid_formatted_io, nullptr), E_POINTER);
    void* refused = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(inner->QueryInterface(IID_IDispatch, &refused), E_NOINTERFACE);
    EXPECT_EQ(refused, nullptr);
}

TEST_F(Aggregation, ContainedInterfacesBelongToTheOuterObject)
{
    outer_object outer;
    ASSERT_EQ(outer.aggregate(factory.Get()), S_OK);
    IUnknown* inner = outer.inner();

    com_ptr<IFormattedIO488> io;
    ASSERT_EQ(inner->QueryInterface(iid_formatted_io, &io), S_OK);
    EXPECT_EQ(outer.count(), 2) << "the reference given out is the outer object's";
    EXPECT_EQ(inner_count(inner), 1u);

    com_ptr<IUnknown> identity;
    ASSERT_EQ(io->QueryInterface(IID_IUnknown, &identity), S_OK);
    EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(&outer));
    identity.Reset();

    const std::size_t before = outer.queries().size();
    com_ptr<ISupportErrorInfo> support;
    ASSERT_EQ(io->QueryInterface(IID_ISupportErrorInfo, &support), S_OK);
    ASSERT_EQ(outer.queries().size(), before + 1);
    EXPECT_EQ(outer.queries().back(), IID_ISupportErrorInfo);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(iid_formatted_io), S_OK);

    com_ptr<IProvideClassInfo2> withheld;
    EXPECT_EQ(io->QueryInterface(IID_IProvideClassInfo2, &withheld), E_NOINTERFACE)
        << "the outer object decides, though the inner object has the interface";

    EXPECT_EQ(io->AddRef(), 4u);
    EXPECT_EQ(io->Release(), 3u);
    support.Reset();
    io.Reset();
    EXPECT_EQ(outer.count(), 1);
    EXPECT_EQ(inner_count(inner), 1u);
}

TEST_F(Aggregation, AggregatedObjectWorks)
{
    outer_object outer;
    ASSERT_EQ(outer.aggregate(factory.Get()), S_OK);
    com_ptr<IFormattedIO488> io;
    ASSERT_EQ(outer.QueryInterface(iid_formatted_io, &io), S_OK);
    ASSERT_EQ(io->put_InstrumentBigEndian(VARIANT_FALSE), S_OK);
    VARIANT_BOOL big_endian = VARIANT_TRUE;
    ASSERT_EQ(io->get_InstrumentBigEndian(&big_endian), S_OK);
    EXPECT_EQ(big_endian, VARIANT_FALSE);

    com_ptr<IProvideClassInfo2> provider;
    ASSERT_EQ(outer.inner()->QueryInterface(IID_IProvideClassInfo2, &provider), S_OK);
    com_ptr<ITypeInfo> info;
    ASSERT_EQ(provider->GetClassInfo(&info), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->guid, clsid_fmtdio);
    info->ReleaseTypeAttr(attributes);
}

TEST_F(Aggregation, ReleasingTheInnerUnknownEndsTheAggregate)
{
    {
        outer_object outer;
        ASSERT_EQ(outer.aggregate(factory.Get()), S_OK);
        com_ptr<IFormattedIO488> io;
        ASSERT_EQ(outer.inner()->QueryInterface(iid_formatted_io, &io), S_OK);
        io.Reset();
        factory.Reset();
        EXPECT_EQ(server.can_unload_now(), S_FALSE) << "the aggregate is alive";
        EXPECT_EQ(outer.count(), 1);
    }
    EXPECT_EQ(server.can_unload_now(), S_OK);
}

} // namespace
} // namespace server_tests
