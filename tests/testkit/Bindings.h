// tests/testkit/Bindings.h: the testkit's registration functions, one per family it binds.
#pragma once

void bindLockRelease();           // lock_release.cpp
void bindSubscriptionPolicies();  // subscription_policies.cpp
void bindLibraryObjects();        // library_objects.cpp
