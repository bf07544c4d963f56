# Peer of facet_set.kez: an attribute set on a plain object, then on objects
# whose __setattr__ calls a hook doing the same checks as the face hook
# (trace switch, equal values, owned values, reactions, change flags) and,
# when synchronised, one call into a recording platform.
import time

N = 100000
FLAGS = {'type': 1, 'offset': 2, 'size': 4, 'text': 8}
OWNED = (list, str, dict, bytearray)


class View:
    debug = False
    auto_sync = True


class Reactivity:
    relations = []


view, reactivity = View(), Reactivity()
log = []


def update_view(face):
    log.append(('update-view', face))


def show(face):
    state = face.__dict__['state']
    if state[1]:
        update_view(face)
        state[1] = 0


def on_change(face, word, old, new):
    if view.debug:
        print("-- on-change event --", word)
    if word in ('state', 'extra'):
        return
    if word in ('size', 'offset') and old == new:
        return
    special = word in ('pane', 'font', 'para', 'text', 'data', 'selected')
    if isinstance(old, OWNED) or isinstance(new, OWNED):
        pass
    if special:
        pass
    if reactivity.relations:
        pass
    state = face.__dict__.get('state')
    if state is not None:
        state[1] |= FLAGS[word]
        if state[0] and view.auto_sync:
            show(face)
    elif face.__dict__.get('type') == 'rich-text':
        update_view(face)


class Face:
    def __setattr__(self, name, value):
        old = self.__dict__.get(name)
        self.__dict__[name] = value
        on_change(self, name, old, value)


class Plain:
    pass


def per_set(name, obj, after=None):
    t = time.perf_counter()
    for _ in range(N):
        obj.offset = (obj.offset[0] + 1, obj.offset[1])
        if after:
            after()
    print(f"{name:<28} {(time.perf_counter() - t) / N * 1e9:.1f} ns a set")


p = Plain()
p.offset = (0, 0)
per_set("plain object", p)
f = Face()
f.type, f.offset = 'base', (0, 0)
per_set("face not shown", f)
f.state = ['handle', 0, None, False]
view.auto_sync = False
per_set("shown, auto-sync off", f)
view.auto_sync = True
per_set("shown, auto-sync on", f, log.clear)
