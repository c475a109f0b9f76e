// Registration of every benchmark group.
#pragma once

namespace bench {

void RegisterSaveJobs();
void RegisterConvertJobs();
void RegisterDxtJobs();

}  // namespace bench
