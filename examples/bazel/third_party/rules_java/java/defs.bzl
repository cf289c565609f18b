def java_import(**kwargs):
    native.java_import(**kwargs)
def java_runtime(**kwargs):
    native.java_runtime(**kwargs)
def java_toolchain(**kwargs):
    native.java_toolchain(**kwargs)
def java_binary(**kwargs):
    native.java_binary(**kwargs)
def java_library(**kwargs):
    native.java_library(**kwargs)
def java_test(**kwargs):
    native.java_test(**kwargs)
def java_plugin(**kwargs):
    native.java_plugin(**kwargs)
def java_runtime_alias(**kwargs):
    native.java_runtime_alias(**kwargs)
def java_toolchain_alias(**kwargs):
    native.java_toolchain_alias(**kwargs)
def java_host_runtime_alias(**kwargs):
    native.java_host_runtime_alias(**kwargs)
def java_package_configuration(**kwargs):
    native.java_package_configuration(**kwargs)
def java_proto_library(**kwargs):
    native.java_proto_library(**kwargs)
def java_lite_proto_library(**kwargs):
    native.java_lite_proto_library(**kwargs)
