// The umbrella header: every public header of kes.
#pragma once
