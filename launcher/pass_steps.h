// The steps that the install pass and the removal pass ("/uninstall") share:
// the language of the boxes, the reports, the log lines about a product, the
// service's answers and where it is asked.
#pragma once

#include "products/products.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Makes `locale` the thread's locale, which chooses the language of the result
// messages, unless Windows would refuse it (0, or a locale it does not have):
// then the previous locale stays in force, on every platform alike. The
// thread's UI language follows, for the parts of a box that the system draws.
void SetMessageLocale(LCID locale);

// The locale of the language the user reads Windows in, for the boxes that
// belong to no product. The user's regional formats (LOCALE_USER_DEFAULT) may
// well be in another language.
LCID UserDisplayLocale();

// Shows message `id` (unless quiet) and logs it; the first message 300 of the
// run gives the exit code its value.
void Report(UINT id);

void LogProduct(const ProductRecord& record, const wchar_t* decision);

// Asks the service for the patch's state on the product and logs where it
// asked and what it heard.
PatchState AskPatchState(const ProductRecord& record, const std::wstring& patchCode);

// What the service's answer to an apply or a removal means for the product.
enum class ApplyResult { Applied, Suspended, Failed };

// 0, 1641, 3010 and 3011 succeeded; 1604 (a ForceReboot) completes after the
// restart; everything else failed.
ApplyResult ClassifyResult(UINT result);

// Runs the installer call `call` under the run's interface level, put back
// after it. An installer that refuses the level with the elevation prompt
// (before Windows Installer 5.0, and Wine's) runs with none at all.
UINT UnderRunInterfaceLevel(const std::function<UINT()>& call);

// Says in the log why a product of the list that the service knows is left
// alone, and for one installed for other users, for whom. `notDone` says
// what the pass does not do to it ("not patched"), `perUserHint` how a
// per-user installation is reached.
void LogSkippedProduct(const SkippedProduct& product, const wchar_t* notDone,
                       const wchar_t* perUserHint);

// The products a pass has already handled. A product the list names twice
// (in any case) is handled once: its later records get no installer call and
// no message.
class HandledProducts {
  public:
    // True when `productCode` was handled before; `marked` is then what Add()
    // was given for it.
    bool Find(const std::wstring& productCode, bool& marked) const;
    void Add(const std::wstring& productCode, bool marked);

  private:
    struct Handled {
        std::wstring productCode;
        bool marked;
    };
    std::vector<Handled> handled_;
};
