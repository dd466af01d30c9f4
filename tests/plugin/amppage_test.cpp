// The plug-in's parameter page on a real window (Xvfb): created through COM
// from the class the plug-in names, activated inside a parent window, its
// sliders worked with the keyboard, and the edits committed by Apply.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>

#include "ampdsp.h"
#include "amptest.h"

namespace {

struct ChildSearch {
    const char* className;
    std::vector<HWND> found;
};

BOOL CALLBACK collectChild(HWND child, LPARAM context) {
    auto* search = reinterpret_cast<ChildSearch*>(context);
    char name[64] = {};
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, search->className) == 0) search->found.push_back(child);
    return TRUE;
}

std::vector<HWND> childrenOfClass(HWND parent, const char* className) {
    ChildSearch search = {className, {}};
    EnumChildWindows(parent, collectChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

POINT placeIn(HWND parent, HWND child) {
    RECT placed;
    GetWindowRect(child, &placed);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&placed), 2);
    return {placed.left, placed.top};
}

}  // namespace

using AmpPageTest = AmpComTest;

TEST_F(AmpPageTest, SlidersChangeTheParametersAtOnceAndApplyCommitsThem) {
    IBaseFilter* amp = createAmp();
    ASSERT_NE(nullptr, amp);
    auto* direct = query<IHarnwickAmpDirect>(amp, IID_IHarnwickAmpDirect);
    auto* specify = query<ISpecifyPropertyPages>(amp, IID_ISpecifyPropertyPages);
    ASSERT_TRUE(direct && specify);
    CAUUID pages = {};
    ASSERT_EQ(S_OK, specify->GetPages(&pages));
    specify->Release();
    ASSERT_EQ(1u, pages.cElems);
    IPropertyPage* page = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(pages.pElems[0], nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                                     reinterpret_cast<void**>(&page)));
    CoTaskMemFree(pages.pElems);
    HWND parent = CreateWindowExA(0, "STATIC", "page host", WS_OVERLAPPEDWINDOW, 0, 0, 600, 500, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);

    direct->setParameter(AMP_BASS, 6.0f);
    IUnknown* object = amp;
    ASSERT_EQ(S_OK, page->SetObjects(1, &object));

    PROPPAGEINFO info = {};
    ASSERT_EQ(S_OK, page->GetPageInfo(&info));
    CoTaskMemFree(info.pszTitle);
    RECT rect = {20, 65, 20 + info.size.cx, 65 + info.size.cy};
    ASSERT_EQ(S_OK, page->Activate(parent, &rect, FALSE));
    HWND pageWindow = GetWindow(parent, GW_CHILD);
    ASSERT_NE(nullptr, pageWindow);
    // Shown by Activate itself: hosts may never call Show (the parent stays hidden here).
    EXPECT_TRUE(GetWindowLongA(pageWindow, GWL_STYLE) & WS_VISIBLE);
    EXPECT_EQ(20, placeIn(parent, pageWindow).x);
    EXPECT_EQ(65, placeIn(parent, pageWindow).y);

    std::vector<HWND> sliders = childrenOfClass(pageWindow, TRACKBAR_CLASSA);
    ASSERT_EQ(size_t(AMP_PARAMETER_COUNT), sliders.size());
    // Bass at +6 dB of -12..+12 sits at three quarters.
    LRESULT low = SendMessageA(sliders[AMP_BASS], TBM_GETRANGEMIN, 0, 0);
    LRESULT high = SendMessageA(sliders[AMP_BASS], TBM_GETRANGEMAX, 0, 0);
    EXPECT_EQ(low + (high - low) * 3 / 4, SendMessageA(sliders[AMP_BASS], TBM_GETPOS, 0, 0));

    // The user drives every slider to its end with the keyboard: heard at once, before Apply.
    for (int i = 0; i < AMP_PARAMETER_COUNT; ++i) {
        SetFocus(sliders[i]);
        SendMessageA(sliders[i], WM_KEYDOWN, i % 2 ? VK_HOME : VK_END, 0);
        SendMessageA(sliders[i], WM_KEYUP, i % 2 ? VK_HOME : VK_END, 0);
    }
    std::vector<float> ends(AMP_PARAMETER_COUNT);
    for (int i = 0; i < AMP_PARAMETER_COUNT; ++i)
        ends[i] = i % 2 ? ampParameterInfo(i)->minValue : ampParameterInfo(i)->maxValue;
    EXPECT_EQ(ends, parametersOf(amp));
    std::vector<std::string> texts;
    for (HWND label : childrenOfClass(pageWindow, "STATIC")) {
        char text[64] = {};
        GetWindowTextA(label, text, sizeof text);
        texts.push_back(text);
    }
    EXPECT_NE(texts.end(), std::find(texts.begin(), texts.end(), "12.0 dB"));  // a tone control at its top

    direct->setParameter(AMP_DRIVE, 5.0f);  // changed elsewhere; Apply writes the page's values back
    ASSERT_EQ(S_OK, page->Apply());
    EXPECT_EQ(ends, parametersOf(amp));
    EXPECT_EQ(S_OK, page->Deactivate());
    EXPECT_FALSE(IsWindow(pageWindow));
    EXPECT_EQ(S_OK, page->SetObjects(0, nullptr));
    page->Release();
    direct->Release();
    EXPECT_EQ(0u, amp->Release());
    DestroyWindow(parent);
}
