#include "control_states.h"

namespace kt::shell {

const QStringList& categoryCheckBoxes() {
    static const QStringList names = {"chkMasterCard",    "chkSystemDatabase", "chkApplicationSet",
                                      "chkTimeZoneTable", "chkHolidayTable",   "chkUserCard",
                                      "chkFlowControl",   "chkDoSet",          "chkDiSet"};
    return names;
}

const QStringList& portControls() {
    static const QStringList names = [] {
        QStringList list = {"fraSet",          "lblControllerIDLabel", "lblControllerID",
                            "vslControllerID", "lblCardNumber",        "vslCardNumber"};
        list += categoryCheckBoxes();
        list += {"fraSave", "lblSave", "txtSave", "cmdSave",
                 "fraLoad", "lblLoad", "txtLoad", "cmdLoad"};
        return list;
    }();
    return names;
}

const QStringList& jobControls() {
    static const QStringList names = [] {
        QStringList list = {"mnuExit", "mnuCommPortActive", "mnuSetting", "vslControllerID",
                            "vslCardNumber"};
        list += categoryCheckBoxes();
        list += {"cmdSave", "cmdLoad", "txtLoad", "txtSave"};
        return list;
    }();
    return names;
}

const QStringList& settingControls() {
    static const QStringList names = {"opLanguage(0)", "opLanguage(1)", "opLanguage(2)",
                                      "txtTxDelay",    "txtRxDelay",    "txtRxTimeOut",
                                      "cmdOk"};
    return names;
}

int checkValue(Qt::CheckState state) {
    switch (state) {
    case Qt::Unchecked:
        return 0;
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    }
    return 0;
}

Qt::CheckState checkStateOf(int value) {
    switch (value) {
    case 1:
        return Qt::Checked;
    case 2:
        return Qt::PartiallyChecked;
    default:
        return Qt::Unchecked;
    }
}

} // namespace kt::shell
