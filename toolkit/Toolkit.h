// The toolkit's start and end, in the order of its units. The program entry
// calls Initialize before it creates its windows and Finalize after it has
// freed them; the test programs around their tests. A counter lets repeated
// calls nest: only the first Initialize and the matching last Finalize work.
#pragma once

namespace toolkit {

void Initialize();
void Finalize();

}  // namespace toolkit
