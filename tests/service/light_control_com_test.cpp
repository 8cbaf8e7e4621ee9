// The automation object in the test's own process, made by its factory over a
// controller of the test's: what COM and late-bound clients see of it.

#include "led_controller_fixture.h"
#include "service/com_module_win.h"
#include "service/light_control_com_win.h"

namespace {

using namespace led_testing;

// An outer object that only counts what the aggregated object hands it.
class Outer final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        ++queries;
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(--references); }

    int queries = 0;
    int references = 1;
};

class ComObjectTest : public ControllerTest {
protected:
    void SetUp() override { controller = makeController(); }

    ILightControl* make() {
        ILightControl* object = nullptr;
        EXPECT_EQ(
            factory().CreateInstance(nullptr, IID_ILightControl, reinterpret_cast<void**>(&object)),
            S_OK);
        return object;
    }
    service::LightControlFactory& factory() {
        if (!factory_)
            factory_.emplace(module, service::LightControl(*controller));
        return *factory_;
    }

    std::unique_ptr<service::LedController> controller;
    service::ComModule module;

private:
    std::optional<service::LightControlFactory> factory_;
};

TEST_F(ComObjectTest, TheFactoryRefusesWhatItCannotMakeAndCountsWhatItMakes) {
    EXPECT_EQ(factory().CreateInstance(nullptr, IID_ILightControl, nullptr), E_POINTER);
    Outer outer;
    void* object = &outer;
    EXPECT_EQ(factory().CreateInstance(&outer, IID_ILightControl, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    object = &outer;
    EXPECT_EQ(factory().CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(module.count(), 0);

    // Objects and locks keep the module; the idle handler runs when the last goes.
    int idle = 0;
    module.setIdleHandler([&] { ++idle; });
    ILightControl* first = make();
    ILightControl* second = make();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    EXPECT_EQ(factory().LockServer(TRUE), S_OK);
    EXPECT_EQ(module.count(), 3);
    IDispatch* dispatch = nullptr;
    EXPECT_EQ(first->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    dispatch->Release();
    first->Release();
    second->Release();
    EXPECT_EQ(idle, 0);
    EXPECT_EQ(factory().LockServer(FALSE), S_OK);
    EXPECT_EQ(idle, 1);
    EXPECT_EQ(factory().LockServer(FALSE), S_OK); // unmatched: no second idle
    EXPECT_EQ(idle, 1);
    EXPECT_EQ(module.count(), 0);
}

TEST_F(ComObjectTest, AnAggregatedObjectGivesItsOuterObjectsIdentity) {
    Outer outer;
    IUnknown* inner = nullptr;
    ASSERT_EQ(factory().CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)),
              S_OK);
    ILightControl* control = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_ILightControl, reinterpret_cast<void**>(&control)), S_OK);
    EXPECT_EQ(outer.references, 2); // counted on the outer object
    void* other = nullptr;
    EXPECT_EQ(control->QueryInterface(IID_IUnknown, &other), E_NOINTERFACE);
    EXPECT_EQ(outer.queries, 1);
    control->Release();
    EXPECT_EQ(outer.references, 1);
    EXPECT_EQ(module.count(), 1);
    inner->Release();
    EXPECT_EQ(module.count(), 0);
}

TEST_F(ComObjectTest, PropertiesReachTheController) {
    ILightControl* control = make();
    ASSERT_TRUE(control);
    SHORT mode = 7;
    for (SHORT rejected : {SHORT(3), SHORT(-1), SHORT(256)}) {
        EXPECT_EQ(control->put_Mode(rejected), S_OK);
        EXPECT_EQ(control->get_Mode(&mode), S_OK);
        EXPECT_EQ(mode, 0) << rejected;
    }
    EXPECT_EQ(control->put_Mode(1), S_OK);
    EXPECT_EQ(control->get_Mode(&mode), S_OK);
    EXPECT_EQ(mode, 1);
    EXPECT_TRUE(controller->musicEffect().running());
    EXPECT_EQ(control->put_Mode(0), S_OK);
    EXPECT_EQ(storedMode(), 0);

    ULONG color = 0;
    EXPECT_EQ(control->put_Color(0x00ABCDEF), S_OK);
    EXPECT_EQ(control->get_Color(&color), S_OK);
    EXPECT_EQ(color, 0x00ABCDEFu);
    EXPECT_EQ(controller->getColor(), 0x00ABCDEFu);

    EXPECT_EQ(control->Start(), S_OK);
    EXPECT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(control->put_Checked(1), S_OK);
    SHORT checked = 0x5A5A;
    EXPECT_EQ(control->get_Checked(&checked), S_OK);
    EXPECT_EQ(checked, 0x5A5A);
    control->Release();
}

TEST_F(ControllerTest, AMemberThatThrowsFailsWithAnHresultAndTheObjectGoesOn) {
    auto controller =
        makeController(kPeriod, {}, [] { return std::make_unique<UnstartableCapture>(); });
    service::ComModule module;
    service::LightControlFactory factory(module, service::LightControl(*controller));
    ILightControl* control = nullptr;
    ASSERT_EQ(
        factory.CreateInstance(nullptr, IID_ILightControl, reinterpret_cast<void**>(&control)),
        S_OK);
    EXPECT_EQ(control->put_Mode(1), E_FAIL) << "the music effect's capture throws";
    EXPECT_FALSE(controller->musicEffect().running());
    SHORT mode = -1;
    EXPECT_EQ(control->put_Mode(2), S_OK);
    EXPECT_EQ(control->get_Mode(&mode), S_OK);
    EXPECT_EQ(mode, 2);
    EXPECT_EQ(control->put_Mode(0), S_OK);
    control->Release();
}

TEST_F(ComObjectTest, LateBoundCallsFindTheMembersByName) {
    ILightControl* control = make();
    ASSERT_TRUE(control);
    UINT count = 0;
    EXPECT_EQ(control->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo* info = nullptr;
    EXPECT_EQ(control->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
    ASSERT_EQ(control->GetTypeInfo(0, 0, &info), S_OK);
    info->Release();

    const auto idOf = [&](const wchar_t* name, DISPID& id) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        return control->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    };
    DISPID mode = 0, color = 0, unknown = 0;
    ASSERT_EQ(idOf(L"Mode", mode), S_OK);
    ASSERT_EQ(idOf(L"color", color), S_OK);
    EXPECT_EQ(mode, 2);
    EXPECT_EQ(color, 1);
    EXPECT_EQ(idOf(L"Brightness", unknown), DISP_E_UNKNOWNNAME);

    const auto put = [&](DISPID id, VARIANT value) {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS parameters{&value, &named, 1, 1};
        return control->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &parameters, nullptr, nullptr,
                               nullptr);
    };
    const auto get = [&](DISPID id, VARIANT& result) {
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        VariantInit(&result);
        return control->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                               nullptr);
    };
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4; // converted to the member's type, as script hosts rely on
    value.lVal = 2;
    EXPECT_EQ(put(mode, value), S_OK);
    EXPECT_EQ(controller->getMode(), 2);
    value.vt = VT_UI4;
    value.ulVal = 0x80FF0000;
    EXPECT_EQ(put(color, value), S_OK);

    VARIANT result;
    ASSERT_EQ(get(mode, result), S_OK);
    EXPECT_EQ(result.vt, VT_I2);
    EXPECT_EQ(result.iVal, 2);
    ASSERT_EQ(get(color, result), S_OK);
    EXPECT_EQ(result.vt, VT_UI4);
    EXPECT_EQ(result.ulVal, 0x80FF0000u);
    control->Release();
}

} // namespace
