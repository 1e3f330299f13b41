// The handlers of every service, as listed in the service tables of the
// request server (agent/server.cpp).
#pragma once

#include <cstddef>

int network_get(int fd, char* sub_path, size_t sub_path_len, char* rest);
int wireless_get(int fd, char* sub_path, size_t sub_path_len, char* rest);
int dhcp_get(int fd, char* sub_path, size_t sub_path_len, char* rest);
int time_get(int fd, char* sub_path, size_t sub_path_len, char* rest);
int system_get(int fd, char* sub_path, size_t sub_path_len, char* rest);
int log_get(int fd, char* sub_path, size_t sub_path_len, char* rest);
int firewall_get(int fd, char* sub_path, size_t sub_path_len, char* rest);
int vlan_get(int fd, char* sub_path, size_t sub_path_len, char* rest);
int uplink_get(int fd, char* sub_path, size_t sub_path_len, char* rest);
int storage_get(int fd, char* sub_path, size_t sub_path_len, char* rest);
int mgt_get(int fd, char* sub_path, size_t sub_path_len, char* rest);
int ddns_get(int fd, char* sub_path, size_t sub_path_len, char* rest);
int wifidog_get(int fd, char* sub_path, size_t sub_path_len, char* rest);
int usb_get(int fd, char* sub_path, size_t sub_path_len, char* rest);
int clcloud_get(int fd, char* sub_path, size_t sub_path_len, char* rest);
int changemode_get(int fd, char* sub_path, size_t sub_path_len, char* rest);
int superauth_get(int fd, char* sub_path, size_t sub_path_len, char* rest);
int dbmode_get(int fd, char* sub_path, size_t sub_path_len, char* rest);

int network_post(int fd, char* body, size_t body_len, char* sub_path);
int wireless_post(int fd, char* body, size_t body_len, char* sub_path);
int dhcp_post(int fd, char* body, size_t body_len, char* sub_path);
int time_post(int fd, char* body, size_t body_len, char* sub_path);
int system_post(int fd, char* body, size_t body_len, char* sub_path);
int log_post(int fd, char* body, size_t body_len, char* sub_path);
int login_post(int fd, char* body, size_t body_len, char* sub_path);
int passwd_post(int fd, char* body, size_t body_len, char* sub_path);
int firewall_post(int fd, char* body, size_t body_len, char* sub_path);
int vlan_post(int fd, char* body, size_t body_len, char* sub_path);
int storage_post(int fd, char* body, size_t body_len, char* sub_path);
int mgt_post(int fd, char* body, size_t body_len, char* sub_path);
int ddns_post(int fd, char* body, size_t body_len, char* sub_path);
int wifidog_post(int fd, char* body, size_t body_len, char* sub_path);
int clcloud_post(int fd, char* body, size_t body_len, char* sub_path);
int changemode_post(int fd, char* body, size_t body_len, char* sub_path);
int superauth_post(int fd, char* body, size_t body_len, char* sub_path);
int dbmode_post(int fd, char* body, size_t body_len, char* sub_path);
