#pragma once
// main() for widget tests that stand in for the host: the application object
// made as QTEST_MAIN makes it, then started the way the host's main() starts
// it (HostApplication::startUp(): Qt's own texts in Portuguese). Tests using
// it link opd_host.

#include "host/HostApplication.h"

#include <QTest>

#define OPD_HOST_TEST_MAIN(TestObject) \
    QTEST_MAIN_WRAPPER(TestObject, QTEST_MAIN_SETUP() HostApplication::startUp();)
