#pragma once

class QQmlEngine;

namespace theme {

// Makes `import Theme` work in the engine's markup: registers the module (a static library, which the
// linker would otherwise leave out) and lets the engine look for it in the resources. Idempotent.
void Install(QQmlEngine& engine);

}  // namespace theme
