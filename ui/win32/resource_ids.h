// Resource identifiers of the Windows stub, shared by the code and resources.rc.
#pragma once

#define IDI_ICON1 1
