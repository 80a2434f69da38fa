#include <QApplication>
#include <QIcon>

#include <memory>

#include "AppPaths.h"
#include "NetSdk.h"
#include "OrvaneTool.h"

int main(int argc, char *argv[])
{
    NetSdk_Init(0, 0);
    QApplication app(argc, argv);
    app.setWindowIcon(QIcon(QStringLiteral(":/main1.ico")));
    auto window = std::make_unique<OrvaneTool>();
    app.setStyleSheet(AppPaths::lineEditStyleSheet());
    window->show();
    const int code = app.exec();
    window.reset();
    return code;
}
