#include "main_window/form1.h"

#include "about/abtw.h"
#include "forms/error_policy.h"

namespace Marlet::MainWindow {

void Form1::abt_Click()
{
    Forms::runReporting(QStringLiteral("abt_Click"), [] { About::Abtw::instance().Show(); });
}

} // namespace Marlet::MainWindow
