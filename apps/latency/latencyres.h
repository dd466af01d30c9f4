// Resource ids of the latency check's dialog.
#pragma once

#define IDD_LATENCY 300
#define IDC_LATENCY_INTRO 3001
#define IDC_LATENCY_STEPS 3002
#define IDC_LATENCY_RESULT 3003
#define IDC_LATENCY_MEASURE 3004
