#include <QApplication>
#include <QIcon>

#include <memory>

#include "NetSdk.h"
#include "OrvaneTool.h"

int main(int argc, char *argv[])
{
    NetSdk_Init(0, 0);
    QApplication app(argc, argv);
    app.setWindowIcon(QIcon(QStringLiteral(":/main1.ico")));
    auto window = std::make_unique<OrvaneTool>();
    app.setStyleSheet(QStringLiteral(
        "QLineEdit:!focus{border-radius: 3px ;border: 1px  solid rgba(178, 178, 178,50);"
        "background-color: rgb(225, 225, 225, 0);}QLineEdit:focus{border-radius: 3px ;"
        "border: 1px  solid rgba(178, 178, 178,50);background-color: rgba(255, 255, 255, 0);}"));
    window->show();
    const int code = app.exec();
    window.reset();
    return code;
}
