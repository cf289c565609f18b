def cc_binary(**kwargs):
    native.cc_binary(**kwargs)
def cc_library(**kwargs):
    native.cc_library(**kwargs)
def cc_import(**kwargs):
    native.cc_import(**kwargs)
def cc_toolchain_suite(**kwargs):
    native.cc_toolchain_suite(**kwargs)
def objc_library(**kwargs):
    native.objc_library(**kwargs)
def cc_test(**kwargs):
    native.cc_test(**kwargs)
def cc_toolchain(**kwargs):
    native.cc_toolchain(**kwargs)
def cc_proto_library(**kwargs):
    native.cc_proto_library(**kwargs)
def fdo_prefetch_hints(**kwargs):
    native.fdo_prefetch_hints(**kwargs)
def fdo_profile(**kwargs):
    native.fdo_profile(**kwargs)
def objc_import(**kwargs):
    native.objc_import(**kwargs)
